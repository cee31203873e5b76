// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// What the daemon's menu asks of the user: only error alerts. Called on the main
// thread; returns once the alert is dismissed. Tests answer with a recorder.
class DaemonPrompts
{
public:
    virtual ~DaemonPrompts() = default;
    virtual void showError(const QString &description, const QString &recoverySuggestion) = 0;
};
