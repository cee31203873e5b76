// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The phone side of the daemon as the Live link sees it. The iOS socket implements
// it; until one exists the daemon runs with NoPhoneRelay.
class PhoneRelay
{
public:
    virtual ~PhoneRelay() = default;

    // Frames and sends one payload to the connected phone; nothing when none is.
    virtual void sendToiOS(const QByteArray &bytes) = 0;
    // Absent bytes: nothing. Otherwise a "Sending cached <label> to iOS (<n> bytes)"
    // line, then sendToiOS.
    virtual void sendCached(const std::optional<QByteArray> &bytes, const QString &label) = 0;
};
