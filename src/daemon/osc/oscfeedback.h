// SPDX-License-Identifier: MIT
#pragma once

#include "oscshowstate.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QTimer>

#include <array>
#include <bitset>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

// Who gets OSC feedback and what each still has to be sent. A client gets every
// field when it subscribes, then only the fields that changed; per client at most
// `messagesPerSecond` messages in any second, changes in between coalesced to the
// latest value. Subscriptions lapse unless renewed; static targets never do.
// Main thread only; the sending itself is whoever `send` is.
class OscFeedback final : public QObject
{
    Q_OBJECT

public:
    using Send = std::function<void(const QHostAddress &host, quint16 port, const char *address,
                                    const QVariant &value)>;

    struct Limits
    {
        std::chrono::milliseconds lifetime{10000}; // a subscription not renewed lapses then
        int messagesPerSecond = 20;                // to one client
        int maxClients = 64; // beyond: refused, so spoofed senders cannot grow the list
    };

    OscFeedback(Send send, Limits limits, QObject *parent = nullptr);
    explicit OscFeedback(Send send, QObject *parent = nullptr)
        : OscFeedback(std::move(send), Limits(), parent)
    {}
    ~OscFeedback() override;

    // Starts or renews; a new client gets everything.
    void subscribe(const QHostAddress &host, quint16 port);
    void unsubscribe(const QHostAddress &host, quint16 port);
    // Everything now; to a client that is not subscribed, once.
    void refresh(const QHostAddress &host, quint16 port);
    void addStaticTarget(const QHostAddress &host, quint16 port);

    // The show's values now: each client is sent what differs from what it has.
    void publish(const OscShowState::Values &values);

    int clientCount() const { return int(m_clients.size()); }

private:
    struct Client
    {
        QHostAddress host;
        quint16 port = 0;
        bool isStatic = false;
        bool once = false; // a refresh for a client that is not subscribed
        QDeadlineTimer expires;
        std::array<QVariant, OscShowState::FieldCount> sent;
        std::bitset<OscShowState::FieldCount> pending;
        std::vector<qint64> sendTimes; // ms, the last messagesPerSecond sends, oldest first
    };

    Client *find(const QHostAddress &host, quint16 port);
    Client *add(const QHostAddress &host, quint16 port);
    void markChanged(Client &client);
    bool flush(Client &client); // true when everything pending went out
    void flushAll();
    void lapse();

    Send m_send;
    Limits m_limits;
    OscShowState::Values m_values;
    std::vector<std::unique_ptr<Client>> m_clients;
    QTimer m_flushTimer; // runs while some client waits for its rate to allow more
    QTimer m_lapseTimer;
    QElapsedTimer m_clock;
};
