// SPDX-License-Identifier: MIT
#include "oscfeedback.h"

#include "log.h"

namespace {

QString where(const QHostAddress &host, quint16 port)
{
    return host.toString() + QLatin1Char(':') + QString::number(port);
}

} // namespace

OscFeedback::OscFeedback(Send send, Limits limits, QObject *parent)
    : QObject(parent), m_send(std::move(send)), m_limits(limits)
{
    m_clock.start();
    m_flushTimer.setInterval(
        std::chrono::milliseconds(1000 / std::max(1, limits.messagesPerSecond)));
    connect(&m_flushTimer, &QTimer::timeout, this, &OscFeedback::flushAll);
    // Lapses are checked often enough that a lapsed client hears nothing more soon after.
    m_lapseTimer.setInterval(std::clamp(limits.lifetime / 10, std::chrono::milliseconds(10),
                                        std::chrono::milliseconds(1000)));
    connect(&m_lapseTimer, &QTimer::timeout, this, &OscFeedback::lapse);
}

OscFeedback::~OscFeedback() = default;

OscFeedback::Client *OscFeedback::find(const QHostAddress &host, quint16 port)
{
    for (const auto &client : m_clients) {
        if (client->port == port && client->host.isEqual(host))
            return client.get();
    }
    return nullptr;
}

OscFeedback::Client *OscFeedback::add(const QHostAddress &host, quint16 port)
{
    if (int(m_clients.size()) >= m_limits.maxClients) {
        mlog::out(QStringLiteral("OSC: feedback for %1 refused: %2 clients already")
                      .arg(where(host, port))
                      .arg(m_limits.maxClients));
        return nullptr;
    }
    auto client = std::make_unique<Client>();
    client->host = host;
    client->port = port;
    client->pending.set();
    m_clients.push_back(std::move(client));
    if (!m_lapseTimer.isActive())
        m_lapseTimer.start();
    return m_clients.back().get();
}

void OscFeedback::subscribe(const QHostAddress &host, quint16 port)
{
    Client *client = find(host, port);
    if (!client) {
        client = add(host, port);
        if (!client)
            return;
        mlog::out(QStringLiteral("OSC: %1 subscribed to feedback").arg(where(host, port)));
    }
    client->once = false;
    client->expires.setRemainingTime(m_limits.lifetime);
    flush(*client);
}

void OscFeedback::unsubscribe(const QHostAddress &host, quint16 port)
{
    const auto it = std::find_if(m_clients.begin(), m_clients.end(), [&](const auto &client) {
        return !client->isStatic && client->port == port && client->host.isEqual(host);
    });
    if (it == m_clients.end())
        return;
    m_clients.erase(it);
    mlog::out(QStringLiteral("OSC: %1 unsubscribed from feedback").arg(where(host, port)));
}

void OscFeedback::refresh(const QHostAddress &host, quint16 port)
{
    Client *client = find(host, port);
    if (!client) {
        client = add(host, port);
        if (!client)
            return;
        client->once = true;
    }
    client->sent.fill(QVariant());
    client->pending.set();
    if (flush(*client) && client->once)
        std::erase_if(m_clients, [client](const auto &each) { return each.get() == client; });
}

void OscFeedback::addStaticTarget(const QHostAddress &host, quint16 port)
{
    if (find(host, port))
        return;
    if (Client *client = add(host, port)) {
        client->isStatic = true;
        mlog::out(
            QStringLiteral("OSC: feedback to %1 (oscFeedbackTargets)").arg(where(host, port)));
        flush(*client);
    }
}

void OscFeedback::publish(const OscShowState::Values &values)
{
    m_values = values;
    for (const auto &client : m_clients)
        markChanged(*client);
    flushAll();
}

void OscFeedback::markChanged(Client &client)
{
    for (int field = 0; field < OscShowState::FieldCount; ++field) {
        if (client.sent[size_t(field)] != m_values[size_t(field)])
            client.pending.set(size_t(field));
    }
}

bool OscFeedback::flush(Client &client)
{
    const qint64 now = m_clock.elapsed();
    const size_t rate = size_t(m_limits.messagesPerSecond);
    for (int field = 0; field < OscShowState::FieldCount && client.pending.any(); ++field) {
        if (!client.pending.test(size_t(field)))
            continue;
        if (client.sendTimes.size() >= rate) {
            if (now - client.sendTimes.front() < 1000) {
                if (!m_flushTimer.isActive())
                    m_flushTimer.start();
                return false;
            }
            client.sendTimes.erase(client.sendTimes.begin());
        }
        const QVariant &value = m_values[size_t(field)];
        client.pending.reset(size_t(field));
        // A value unchanged since the last send need not go again.
        if (client.sent[size_t(field)] == value)
            continue;
        client.sent[size_t(field)] = value;
        client.sendTimes.push_back(now);
        m_send(client.host, client.port, OscShowState::address(OscShowState::Field(field)), value);
    }
    return true;
}

void OscFeedback::flushAll()
{
    bool waiting = false;
    for (size_t i = 0; i < m_clients.size();) {
        Client &client = *m_clients[i];
        const bool done = flush(client);
        if (done && client.once) {
            m_clients.erase(m_clients.begin() + qsizetype(i));
            continue;
        }
        waiting = waiting || !done;
        ++i;
    }
    if (!waiting)
        m_flushTimer.stop();
}

void OscFeedback::lapse()
{
    for (auto it = m_clients.begin(); it != m_clients.end();) {
        const Client &client = **it;
        if (client.isStatic || client.once || !client.expires.hasExpired()) {
            ++it;
            continue;
        }
        mlog::out(QStringLiteral("OSC: feedback to %1 lapsed (not renewed within %2 s)")
                      .arg(where(client.host, client.port))
                      .arg(m_limits.lifetime.count() / 1000.0));
        it = m_clients.erase(it);
    }
    if (m_clients.empty())
        m_lapseTimer.stop();
}
