// SPDX-License-Identifier: MIT
#pragma once

#include "oscmessage.h"

#include <QByteArrayList>
#include <QString>

#include <variant>

class OscShowState;

// The OSC address space under /marquell/: what each message asks for, turned into
// the same Live link message the application sends, or into a feedback request.
// Pure: the listener and the Live socket do the moving.
namespace osccommand {

struct ForLive
{
    QByteArray bytes; // one client message for AbletonSocket::send
};

// Feedback: the reply port named in the message, else the sender's.
struct Subscribe
{
    quint16 port = 0;
};
struct Unsubscribe
{
    quint16 port = 0;
};
struct Refresh // everything at once
{
    quint16 port = 0;
};

// A button's release (one numeric argument equal to 0): nothing to do.
struct Released
{
};

// A known address with arguments the daemon does not take; why, for the log.
struct Rejected
{
    QString reason;
};

using Command = std::variant<ForLive, Subscribe, Unsubscribe, Refresh, Released, Rejected>;

// Every address the listener registers; anything else is an unknown address.
const QByteArrayList &addresses();

Command parse(const OscMessage &message, const OscShowState &show);

} // namespace osccommand
