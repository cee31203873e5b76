// SPDX-License-Identifier: MIT
#pragma once

// Starts the "iOS Bridge" daemon unless it already runs. Implemented by the
// application delegate; called by the launch sequence and the window's button.
class DaemonLauncher
{
public:
    virtual ~DaemonLauncher() = default;
    virtual void launchDaemonIfNeeded() = 0;
    // Whether a daemon holds its single-instance lock now; cheap enough to poll.
    virtual bool isDaemonRunning() const = 0;
};
