// SPDX-License-Identifier: MIT
#pragma once

#include "song.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <variant>

class WebShowState;

// What the page may ask for, turned into the Live link client messages the phone
// sends, so both go to Live by one path (AbletonSocket::send).
namespace webcommand {

struct ForLive
{
    QByteArray bytes; // one client message; a setlist in the phone's form (full records)
};

struct Auth
{
    QString pin;
};

// Well-formed JSON that is not a command the daemon takes; why, for the log.
struct Rejected
{
    QString reason;
};

using Command = std::variant<ForLive, Auth, Rejected>;

// show supplies the songs a setlist command may name and the setlist's length.
Command parse(const QJsonObject &message, const WebShowState &show);

// 0x04 and full song records (id, name, length text): what the phone sends.
QByteArray phoneSetlist(const QList<Song> &songs);

} // namespace webcommand
