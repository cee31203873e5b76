// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// Everything the life cycle asks of the user, on the main thread. The real one shows
// Qt dialogs; tests answer from a script. Only ask() and presentError() wait for the
// user: the rest return at once, so a question left open at launch holds nothing back.
class UserPrompts
{
public:
    enum class Tone
    {
        Information,
        Warning
    };
    // A button's index, or -1 when the alert was dismissed without one.
    using Answered = std::function<void(int)>;
    // The folder, none when the user cancelled.
    using Chosen = std::function<void(std::optional<QString>)>;

    virtual ~UserPrompts() = default;

    // An alert with the one button "OK".
    virtual void inform(Tone tone, const QString &message, const QString &informativeText) = 0;
    // An alert with the given buttons, first one default; returns once answered.
    virtual int ask(const QString &message, const QString &informativeText,
                    const QStringList &buttons) = 0;
    // As ask(), but answered runs later, once the user has answered.
    virtual void askLater(const QString &message, const QString &informativeText,
                          const QStringList &buttons, Answered answered) = 0;
    // A chooser for one existing folder; chosen runs once the user has closed it.
    virtual void chooseFolder(const QString &title, const QString &confirmLabel, Chosen chosen) = 0;
    // The application's standard presentation of an error. True when the user
    // recovered from it (the caller then stops what it was doing).
    virtual bool presentError(const QString &description) = 0;
};
