// SPDX-License-Identifier: MIT
#pragma once

#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QStringList>

// Which senders the OSC listener takes packets from: single addresses or CIDR
// networks. Empty allows everyone. Entries that are neither are logged and skipped,
// so one typo does not open the door or shut it on every desk.
class OscAllowList final
{
public:
    OscAllowList() = default;
    explicit OscAllowList(const QStringList &entries);

    bool isEmpty() const { return m_networks.isEmpty(); }
    bool allows(const QHostAddress &sender) const;

private:
    QList<QPair<QHostAddress, int>> m_networks;
};
