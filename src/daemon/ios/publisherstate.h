// SPDX-License-Identifier: MIT
#pragma once

#include <QMetaType>
#include <QString>

// How the phone listener reports to the daemon's status menu.
struct PublisherState
{
    enum class Kind
    {
        Published,       // listening (and advertised where DNS-SD runs) on port
        PortUnavailable, // neither the configured port nor a fallback could be bound
        Unpublished      // failed for another reason; being restarted
    };

    Kind kind = Kind::Unpublished;
    quint16 port = 0;
    QString reason; // PortUnavailable: the platform's description
    // Published without a DNS-SD daemon: the listener works, phones must be told
    // the address by hand. Shown beside the published state.
    QString note;

    static PublisherState published(quint16 port, const QString &note = {})
    {
        return {Kind::Published, port, {}, note};
    }
    static PublisherState portUnavailable(quint16 port, const QString &reason)
    {
        return {Kind::PortUnavailable, port, reason, {}};
    }
    static PublisherState unpublished() { return {Kind::Unpublished, 0, {}, {}}; }

    friend bool operator==(const PublisherState &, const PublisherState &) = default;
};

Q_DECLARE_METATYPE(PublisherState)
