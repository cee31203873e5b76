// SPDX-License-Identifier: MIT
#pragma once

#include "serviceadvertiser.h"

#include <memory>

class QSocketNotifier;
typedef struct _DNSServiceRef_t *DNSServiceRef;

// ServiceAdvertiser over dns_sd.h: the system's Bonjour daemon on macOS, Avahi's
// compatibility library on Linux. Replies are read when the DNS-SD socket turns
// readable, so nothing blocks the event loop.
class DnsSdAdvertiser final : public ServiceAdvertiser
{
    Q_OBJECT

public:
    explicit DnsSdAdvertiser(QObject *parent = nullptr);
    ~DnsSdAdvertiser() override;

    void advertise(const Service &service) override;
    void withdraw() override;

    // Who its log lines speak for, and what runs on unadvertised without DNS-SD.
    void setLogNames(const QString &who, const QString &listener)
    {
        m_who = who;
        m_listener = listener;
    }

    // "Marquell", then "Marquell (2)", "Marquell (3)"...
    static QString nameForAttempt(const QString &name, int attempt);

private:
    static constexpr int kMaxAttempts = 100;

    void registerAttempt();
    void onReadable();
    void release();

public:
    // From the DNS-SD reply callback, inside onReadable.
    void onRegistered(qint32 errorCode, const QString &name);

private:
    Service m_service;
    QString m_who = QStringLiteral("iOSSocket");
    QString m_listener = QStringLiteral("the phone listener");
    int m_attempt = 1;
    int m_generation = 0; // a queued rename runs only if nothing changed since
    bool m_reportedUnavailable = false;
    DNSServiceRef m_ref = nullptr;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
