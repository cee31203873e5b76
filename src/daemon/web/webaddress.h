// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QUrl>

// Where a browser finds the web remote, and which pages may drive it.
namespace webaddress {

struct Addresses
{
    QString named;   // http://<hostname>.local:<port>/
    QString numeric; // http://<first IPv4 address of an interface that is up>:<port>/
};

Addresses forPort(quint16 port);

// True for the names and addresses this machine answers to: its host name with or
// without ".local", localhost and the addresses of its interfaces.
bool isOwnHost(const QString &host);

// A WebSocket may drive the show only from a page the daemon served: its Origin
// must be http://<the host and port the socket was opened to>, and that host must
// be this machine (a page of another site that re-points its name at us fails).
bool originAllowed(const QString &origin, const QUrl &requestUrl);

} // namespace webaddress
