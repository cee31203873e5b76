// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into a signal on the main thread, so a quit from the
// terminal or the system takes the same road as the Quit menu item (store saved).
// The handler only writes one byte to a pipe. One instance per process.
class SignalQuitWatcher final : public QObject
{
    Q_OBJECT

public:
    explicit SignalQuitWatcher(QObject *parent = nullptr);
    ~SignalQuitWatcher() override;

    // False when the pipe or the handlers could not be set up; quitting by signal
    // then ends the process the default way.
    bool isActive() const { return m_notifier != nullptr; }

signals:
    void quitRequested(int signalNumber);

private:
    void drain();

    QSocketNotifier *m_notifier = nullptr;
};
