// SPDX-License-Identifier: MIT
#pragma once

#include "userprompts.h"

#include <QList>
#include <QStringList>

#include <functional>
#include <optional>

// Answers the life cycle's questions from a script and records every question, in
// order, into a shared event list ("inform", "ask", "choose", "error" entries).
class ScriptedPrompts final : public UserPrompts
{
public:
    explicit ScriptedPrompts(QStringList &events) : m_events(events) {}

    void inform(const QString &message, const QString &informativeText) override;
    int ask(const QString &message, const QString &informativeText,
            const QStringList &buttons) override;
    std::optional<QString> chooseFolder(const QString &title, const QString &confirmLabel) override;
    bool presentError(const QString &description) override;

    // Answers, taken front first. A question without a scripted answer is recorded
    // as "unexpected" and answered like a dismissed dialog.
    QList<int> askAnswers;
    QList<std::optional<QString>> folderAnswers;
    QList<bool> errorAnswers;
    std::function<void()> whileAsking; // runs inside ask(), as if during the modal alert

    // The full texts of the last alert, for exact checks.
    QString lastMessage;
    QString lastInformative;
    QStringList lastButtons;

private:
    QStringList &m_events;
};
