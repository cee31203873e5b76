// SPDX-License-Identifier: MIT
#include "serverportfile.h"

#include "paths.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace serverportfile {
namespace {

// The file holds a few bytes; anything larger is not ours (and must not stall a tick).
constexpr qint64 kMaxFileSize = 64 * 1024;

std::optional<int> portMember(const QString &path, int min)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return portFromJson(file.read(kMaxFileSize + 1), min);
}

} // namespace

std::optional<int> portFromJson(const QByteArray &bytes, int min)
{
    if (bytes.size() > kMaxFileSize)
        return std::nullopt;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;

    const QJsonValue value = doc.object().value(QStringLiteral("port"));
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!std::isfinite(number) || number != std::floor(number) || number < min || number > 65535)
        return std::nullopt;
    return static_cast<int>(number);
}

QString serverConfigPath()
{
    return paths::marquellSupportFolder() + QStringLiteral("/server.json");
}

std::optional<int> readServerPort(const QString &path)
{
    return portMember(path, 1);
}

quint16 readDaemonServerPort(const QString &path)
{
    return static_cast<quint16>(portMember(path, 0).value_or(kDefaultPort));
}

} // namespace serverportfile
