// SPDX-License-Identifier: MIT
#include "scriptedprompts.h"

void ScriptedPrompts::inform(const QString &message, const QString &informativeText)
{
    lastMessage = message;
    lastInformative = informativeText;
    lastButtons = {QStringLiteral("OK")};
    m_events << QStringLiteral("inform: ") + message;
}

int ScriptedPrompts::ask(const QString &message, const QString &informativeText,
                         const QStringList &buttons)
{
    lastMessage = message;
    lastInformative = informativeText;
    lastButtons = buttons;
    m_events << QStringLiteral("ask: ") + message;
    if (whileAsking)
        whileAsking();
    if (askAnswers.isEmpty()) {
        m_events << QStringLiteral("unexpected ask");
        return -1;
    }
    return askAnswers.takeFirst();
}

std::optional<QString> ScriptedPrompts::chooseFolder(const QString &title,
                                                     const QString &confirmLabel)
{
    m_events << QStringLiteral("choose: ") + title + QStringLiteral(" / ") + confirmLabel;
    if (folderAnswers.isEmpty()) {
        m_events << QStringLiteral("unexpected choose");
        return std::nullopt;
    }
    return folderAnswers.takeFirst();
}

bool ScriptedPrompts::presentError(const QString &description)
{
    m_events << QStringLiteral("error: ") + description;
    if (errorAnswers.isEmpty())
        return false;
    return errorAnswers.takeFirst();
}
