// SPDX-License-Identifier: MIT
#pragma once

#include "oscallowlist.h"
#include "oscdroplog.h"
#include "oscmessage.h"

#include <QByteArrayList>
#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;
typedef void *lo_server;

// The OSC listener: a liblo UDP server on every interface whose socket the Qt event
// loop watches. liblo parses (type tags, padding, bundles, address patterns); this
// class gates senders by the allow-list, hands each message for a registered
// address to the handler, and drops the rest with a log line. It reads a bounded
// number of packets per turn of the event loop, so a flood cannot starve the other
// sockets. Main thread only.
class OscServer final : public QObject
{
    Q_OBJECT

public:
    using Handler = std::function<void(const OscMessage &message)>;

    OscServer(QByteArrayList addresses, Handler handler, QObject *parent = nullptr);
    ~OscServer() override;

    // Binds the wanted port, or one the system picks when that one is taken; logs
    // either way. False when no port could be bound.
    bool start(quint16 wantedPort);
    void stop();
    quint16 port() const { return m_port; }
    bool usingFallbackPort() const { return m_usingFallbackPort; }
    // The platform's words for the last failure to bind.
    QString lastError() const { return m_lastError; }

    void setAllowList(OscAllowList allow) { m_allow = std::move(allow); }
    OscDropLog &dropLog() { return m_dropLog; }

    // One message from the listener's own port (feedback): i, f or s by the value's type.
    void send(const QHostAddress &host, quint16 port, const char *address, const QVariant &value);

    // From liblo's method callbacks, inside onReadable.
    void onMessage(const char *path, const char *types, QVariantList args, bool known);

private:
    lo_server open(quint16 port);
    void onReadable();

    QByteArrayList m_addresses;
    Handler m_handler;
    lo_server m_server = nullptr;
    std::unique_ptr<QSocketNotifier> m_notifier;
    quint16 m_port = 0;
    bool m_usingFallbackPort = false;
    QString m_lastError;
    OscAllowList m_allow;
    OscDropLog m_dropLog;
    // The packet being dispatched: its sender, and whether a registered address took
    // the current message (a pattern reaches the catch-all too).
    QHostAddress m_sender;
    quint16 m_senderPort = 0;
    bool m_matched = false;
    QByteArray m_buffer;
};
