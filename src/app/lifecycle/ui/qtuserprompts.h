// SPDX-License-Identifier: MIT
#pragma once

#include "userprompts.h"

#include <QPointer>
#include <QWidget>

// UserPrompts with Qt's own dialogs: QMessageBox alerts and a QFileDialog folder chooser.
// Those that do not wait are opened with open(): modal to the parent window, while the
// event loop (and with it the connection to Live) carries on.
class QtUserPrompts final : public UserPrompts
{
public:
    explicit QtUserPrompts(QWidget *parent = nullptr) : m_parent(parent) {}
    // Dialogs opened from now on belong to parent and close with it.
    void setParentWidget(QWidget *parent) { m_parent = parent; }

    void inform(Tone tone, const QString &message, const QString &informativeText) override;
    int ask(const QString &message, const QString &informativeText,
            const QStringList &buttons) override;
    void askLater(const QString &message, const QString &informativeText,
                  const QStringList &buttons, Answered answered) override;
    void chooseFolder(const QString &title, const QString &confirmLabel, Chosen chosen) override;
    bool presentError(const QString &description) override;

private:
    QPointer<QWidget> m_parent;
};
