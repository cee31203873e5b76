// SPDX-License-Identifier: MIT
#pragma once

#include "daemonprompts.h"

// A modal alert that stays above other windows: the daemon has no window of its own
// to attach it to, so it must not open behind whatever is in front.
class QtDaemonPrompts final : public DaemonPrompts
{
public:
    void showError(const QString &description, const QString &recoverySuggestion) override;
};
