// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QString>

// Makes the phone listener findable on the local network (DNS-SD). Called by the
// iOS socket on the main thread; reports on the main thread. One service at a time:
// advertise() replaces whatever was advertised before.
class ServiceAdvertiser : public QObject
{
    Q_OBJECT

public:
    struct Service
    {
        QString name;     // wanted instance name; the advertiser may have to change it
        QString type;     // e.g. "_marquell._tcp"
        quint16 port = 0; // the listener's bound port
        QString hostname; // the TXT entry "hostname"
        friend bool operator==(const Service &, const Service &) = default;
    };

    using QObject::QObject;
    ~ServiceAdvertiser() override = default;

    virtual void advertise(const Service &service) = 0;
    virtual void withdraw() = 0;

signals:
    // The service is on the network under this name (a free one after a conflict).
    void advertised(const QString &name);
    // No DNS-SD daemon answers: the listener runs on, unadvertised.
    void unavailable(const QString &reason);
};
