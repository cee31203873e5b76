// SPDX-License-Identifier: MIT
#pragma once

#include "userprompts.h"

class QWidget;

// UserPrompts with Qt's own dialogs: QMessageBox alerts and a QFileDialog folder chooser.
class QtUserPrompts final : public UserPrompts
{
public:
    explicit QtUserPrompts(QWidget *parent = nullptr) : m_parent(parent) {}

    void inform(const QString &message, const QString &informativeText) override;
    int ask(const QString &message, const QString &informativeText,
            const QStringList &buttons) override;
    std::optional<QString> chooseFolder(const QString &title, const QString &confirmLabel) override;
    bool presentError(const QString &description) override;

private:
    QWidget *m_parent;
};
