// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// The two calls the launch sequence makes on the server detector. Main thread.
class DetectorControl
{
public:
    virtual ~DetectorControl() = default;
    virtual void updateParameters(const QString &host, int port) = 0;
    virtual void startDetection() = 0;
};
