// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// Connection status for the show window: fed by ServerDetector while it searches
// and by SocketClient for the connection itself. Called on the main thread.
class ServerDetectorDelegate
{
public:
    virtual ~ServerDetectorDelegate() = default;
    virtual void showServerStatus(const QString &text) = 0;
    virtual void showWaitingForValidation() = 0;
    virtual void showConnected() = 0;
    // The socket client always passes an empty error ("none").
    virtual void showConnectionFailed(const QString &error) = 0;
};
