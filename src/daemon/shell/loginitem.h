// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <memory>
#include <optional>

// Why start at login could not be switched on, in the words the alert shows.
struct LoginItemError
{
    QString description;
    QString recoverySuggestion; // empty when there is nothing to suggest
};

// Starting the daemon at login. Called on the main thread by the status menu; every
// call finishes (and waits for any helper process) before it returns.
class LoginItem
{
public:
    virtual ~LoginItem() = default;

    virtual bool isEnabled() = 0;
    // None on success.
    virtual std::optional<LoginItemError> enable() = 0;
    // Never fails: whatever cannot be undone is left as it is.
    virtual void disable() = 0;
    // Replaces what earlier releases installed; run once at every start.
    virtual void migrateLegacyAgent() = 0;
};

// The platform's login item for this executable (chosen when building).
std::unique_ptr<LoginItem> createLoginItem();
