// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Everything the life cycle asks of the user. Called on the main thread; every call
// is modal and returns once the user has answered. The real one shows Qt dialogs;
// tests answer from a script.
class UserPrompts
{
public:
    virtual ~UserPrompts() = default;

    // An alert with the one button "OK".
    virtual void inform(const QString &message, const QString &informativeText) = 0;
    // An alert with the given buttons, first one default. Returns the index of the
    // pressed button, or -1 when the alert was dismissed without one.
    virtual int ask(const QString &message, const QString &informativeText,
                    const QStringList &buttons) = 0;
    // A chooser for one existing folder. None when the user cancelled.
    virtual std::optional<QString> chooseFolder(const QString &title,
                                                const QString &confirmLabel) = 0;
    // The application's standard presentation of an error. True when the user
    // recovered from it (the caller then stops what it was doing).
    virtual bool presentError(const QString &description) = 0;
};
