// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <optional>

// server.json, published by the Remote Script: {"port": N}. Neither program writes it;
// both read it afresh on every use so a port published later is picked up.
namespace serverportfile {

constexpr quint16 kDefaultPort = 6000;

QString serverConfigPath();

// The "port" member of the file's bytes when it is an integral JSON number within
// [min, 65535]; none for anything else, including more than 64 KiB.
std::optional<int> portFromJson(const QByteArray &bytes, int min);

// The application's reading: an integer from 1 to 65535, otherwise none.
std::optional<int> readServerPort(const QString &path);

// The daemon's reading (ServerConfig): an integer from 0 to 65535, otherwise 6000.
quint16 readDaemonServerPort(const QString &path);

} // namespace serverportfile
