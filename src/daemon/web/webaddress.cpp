// SPDX-License-Identifier: MIT
#include "webaddress.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkInterface>

namespace webaddress {

namespace {

QString hostName()
{
    QString name = QHostInfo::localHostName();
    if (name.endsWith(QLatin1String(".local"), Qt::CaseInsensitive))
        name.chop(6);
    return name.isEmpty() ? QStringLiteral("localhost") : name;
}

QString firstIpv4()
{
    for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces()) {
        const auto flags = interface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) ||
            flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry &entry : interface.addressEntries()) {
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                return entry.ip().toString();
        }
    }
    return QStringLiteral("127.0.0.1");
}

QString url(const QString &host, quint16 port)
{
    return QStringLiteral("http://%1:%2/").arg(host).arg(port);
}

} // namespace

Addresses forPort(quint16 port)
{
    return {url(hostName() + QStringLiteral(".local"), port), url(firstIpv4(), port)};
}

bool isOwnHost(const QString &host)
{
    QString bare = host.toLower();
    if (bare.startsWith(QLatin1Char('[')) && bare.endsWith(QLatin1Char(']')))
        bare = bare.mid(1, bare.size() - 2);
    const QString name = hostName().toLower();
    if (bare == name || bare == name + QStringLiteral(".local") ||
        bare == QLatin1String("localhost"))
        return true;
    const QHostAddress address(bare);
    if (address.isNull())
        return false;
    if (address.isLoopback())
        return true;
    const QList<QHostAddress> own = QNetworkInterface::allAddresses();
    return std::any_of(own.cbegin(), own.cend(),
                       [&address](const QHostAddress &a) { return a.isEqual(address); });
}

bool originAllowed(const QString &origin, const QUrl &requestUrl)
{
    const QUrl from(origin);
    if (!from.isValid() || from.scheme() != QLatin1String("http") || requestUrl.host().isEmpty())
        return false;
    return from.host().compare(requestUrl.host(), Qt::CaseInsensitive) == 0 &&
           from.port(80) == requestUrl.port(80) && isOwnHost(from.host());
}

} // namespace webaddress
