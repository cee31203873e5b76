// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into a clean QCoreApplication::quit(). The handler only
// writes one byte to a pipe; the quit happens on the main thread.
class QuitOnSignal final : public QObject
{
    Q_OBJECT

public:
    explicit QuitOnSignal(QObject *parent = nullptr);
    ~QuitOnSignal() override;

    bool isInstalled() const { return m_notifier != nullptr; }

private:
    void onSignal();

    QSocketNotifier *m_notifier = nullptr;
};
