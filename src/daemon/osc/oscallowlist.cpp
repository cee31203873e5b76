// SPDX-License-Identifier: MIT
#include "oscallowlist.h"

#include "log.h"

OscAllowList::OscAllowList(const QStringList &entries)
{
    for (const QString &entry : entries) {
        const QString text = entry.trimmed();
        QPair<QHostAddress, int> network;
        if (text.contains(QLatin1Char('/'))) {
            network = QHostAddress::parseSubnet(text);
        } else {
            const QHostAddress single(text);
            network = {single, single.protocol() == QAbstractSocket::IPv6Protocol ? 128 : 32};
        }
        if (network.first.isNull()) {
            mlog::out(QStringLiteral("OSC: ignoring \"%1\" in oscAllowFrom (not an address or a "
                                     "network)")
                          .arg(text));
            continue;
        }
        m_networks.append(network);
    }
}

bool OscAllowList::allows(const QHostAddress &sender) const
{
    if (m_networks.isEmpty())
        return true;
    // An IPv4 sender may arrive mapped into IPv6 on a dual-stack socket.
    bool isIpv4 = false;
    const quint32 ipv4 = sender.toIPv4Address(&isIpv4);
    const QHostAddress plain = isIpv4 ? QHostAddress(ipv4) : sender;
    for (const auto &network : m_networks) {
        if (plain.isInSubnet(network))
            return true;
    }
    return false;
}
