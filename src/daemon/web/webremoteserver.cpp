// SPDX-License-Identifier: MIT
#include "webremoteserver.h"

#include "abletonsocket.h"
#include "daemonstatecache.h"
#include "livelinkcodec.h"
#include "log.h"
#include "lowdelaytcpserver.h"
#include "webcommand.h"

#include <QFile>
#include <QHttpServerResponse>
#include <QJsonDocument>
#include <QWebSocket>

// Resources of a static library must be registered by hand, outside any namespace.
static void initWebResources()
{
    Q_INIT_RESOURCE(webremote);
}

namespace {

void say(const QString &line)
{
    mlog::out(QStringLiteral("Web remote: ") + line);
}

QByteArray resource(const QString &name)
{
    QFile file(QStringLiteral(":/web/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString peer(const QWebSocket *socket)
{
    // An IPv4 browser on the dual-stack socket reads better without the ::ffff: prefix.
    bool isIpv4 = false;
    const quint32 ipv4 = socket->peerAddress().toIPv4Address(&isIpv4);
    return isIpv4 ? QHostAddress(ipv4).toString() : socket->peerAddress().toString();
}

} // namespace

WebRemoteServer::WebRemoteServer(DaemonStateCache &cache, AbletonSocket &live, Limits limits,
                                 QObject *parent)
    : QObject(parent), m_cache(cache), m_live(live), m_limits(limits), m_liveUp(live.isConnected())
{
    initWebResources();
    addRoutes();
    QObject::connect(&m_http, &QHttpServer::newWebSocketConnection, this,
                     &WebRemoteServer::acceptSockets);
    QObject::connect(&m_live, &AbletonSocket::messageReceived, this,
                     &WebRemoteServer::onLiveMessage);
    QObject::connect(&m_live, &AbletonSocket::isConnectedChanged, this,
                     &WebRemoteServer::onLiveConnected);
    m_lastState = m_show.snapshot(m_cache.currentState(), m_liveUp, m_playing);
    m_heartbeat.setInterval(m_limits.heartbeat);
    QObject::connect(&m_heartbeat, &QTimer::timeout, this, &WebRemoteServer::sendHeartbeat);
}

WebRemoteServer::~WebRemoteServer()
{
    // Sockets are children: keep their last signals away from a half-destroyed object.
    for (const auto &client : m_clients) {
        if (client->socket)
            QObject::disconnect(client->socket, nullptr, this, nullptr);
    }
}

void WebRemoteServer::addRoutes()
{
    struct File
    {
        const char *path;
        const char *resource;
        const char *mime;
    };
    static constexpr File files[] = {
        {"/", "index.html", "text/html; charset=utf-8"},
        {"/app.js", "app.js", "text/javascript; charset=utf-8"},
        {"/style.css", "style.css", "text/css; charset=utf-8"},
        {"/icon.svg", "icon.svg", "image/svg+xml"},
    };
    for (const File &file : files) {
        const QByteArray body = resource(QLatin1String(file.resource));
        const QByteArray mime = file.mime;
        m_http.route(QLatin1String(file.path), [body, mime] {
            QHttpServerResponse response(mime, body);
            // Served from this machine only: nothing from elsewhere may run in the page.
            response.setHeader("Content-Security-Policy",
                               "default-src 'self'; connect-src 'self'; frame-ancestors 'none'");
            response.setHeader("Cache-Control", "no-cache");
            return response;
        });
    }
    // The upgrade to a WebSocket only happens on a path some route takes; the route
    // itself must not answer, the WebSocket handshake does.
    m_http.route(QStringLiteral("/ws"), [](QHttpServerResponder &&) {});
}

bool WebRemoteServer::start(quint16 wantedPort)
{
    auto *tcp = new LowDelayTcpServer(&m_http);
    if (!tcp->listen(QHostAddress::Any, wantedPort)) {
        const QString error = tcp->errorString();
        say(QStringLiteral("port %1 unavailable, falling back to an OS-assigned port — %2")
                .arg(wantedPort)
                .arg(error));
        m_usingFallbackPort = true;
        if (!tcp->listen(QHostAddress::Any, 0)) {
            say(QStringLiteral("could not bind any port — ") + tcp->errorString());
            delete tcp;
            return false;
        }
    }
    m_http.bind(tcp);
    m_port = tcp->serverPort();
    const webaddress::Addresses where = addresses();
    mlog::out(QStringLiteral("🌐 Web remote at %1 (%2)").arg(where.named, where.numeric));
    return true;
}

webaddress::Addresses WebRemoteServer::addresses() const
{
    return m_port ? webaddress::forPort(m_port) : webaddress::Addresses();
}

void WebRemoteServer::acceptSockets()
{
    while (m_http.hasPendingWebSocketConnections()) {
        QWebSocket *socket = m_http.nextPendingWebSocketConnection().release();
        if (!socket)
            continue;
        socket->setParent(this);
        QObject::connect(socket, &QWebSocket::disconnected, this, [this, socket] {
            if (socket->closeCode() == QWebSocketProtocol::CloseCodeTooMuchData)
                say(QStringLiteral("a message over %1 bytes from %2; connection closed")
                        .arg(m_limits.maxMessageBytes)
                        .arg(peer(socket)));
            forget(socket);
            socket->deleteLater();
        });
        if (!webaddress::originAllowed(socket->origin(), socket->requestUrl())) {
            say(QStringLiteral("refused a connection from origin \"%1\"").arg(socket->origin()));
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated,
                          QStringLiteral("commands only from the daemon's own page"));
            continue;
        }
        if (!m_pin.isEmpty() && isShutOut(peer(socket))) {
            say(QStringLiteral("refused %1 for a while after too many wrong PINs")
                    .arg(peer(socket)));
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated);
            continue;
        }
        socket->setMaxAllowedIncomingMessageSize(quint64(m_limits.maxMessageBytes));
        socket->setMaxAllowedIncomingFrameSize(quint64(m_limits.maxMessageBytes));
        QObject::connect(socket, &QWebSocket::textMessageReceived, this,
                         [this, socket](const QString &text) { onText(socket, text); });
        QObject::connect(socket, &QWebSocket::binaryMessageReceived, this,
                         [this, socket] { onBinary(socket); });

        auto client = std::make_unique<Client>();
        client->socket = socket;
        client->tokens = m_limits.burst;
        client->refill.start();
        Client &added = *m_clients.emplace_back(std::move(client));
        say(QStringLiteral("browser connected from %1 (%2 open)")
                .arg(peer(socket))
                .arg(m_clients.size()));
        emit browserCountChanged(browserCount());
        if (!m_heartbeat.isActive())
            m_heartbeat.start();
        if (m_pin.isEmpty())
            admit(added);
        else
            sendJson(socket, {{QStringLiteral("type"), QStringLiteral("pin")}});
    }
}

void WebRemoteServer::admit(Client &client)
{
    client.admitted = true;
    broadcastChanges(); // others catch up first, so every browser holds the same state
    QJsonObject full = m_lastState;
    full.insert(QStringLiteral("type"), QStringLiteral("state"));
    sendJson(client.socket, full);
}

WebRemoteServer::Client *WebRemoteServer::clientFor(QWebSocket *socket)
{
    for (const auto &client : m_clients) {
        if (client->socket == socket)
            return client.get();
    }
    return nullptr;
}

bool WebRemoteServer::takeToken(Client &client)
{
    const double seconds = double(client.refill.restart()) / 1000.0;
    client.tokens = std::min(m_limits.burst, client.tokens + seconds * m_limits.messagesPerSecond);
    if (client.tokens < 1.0)
        return false;
    client.tokens -= 1.0;
    return true;
}

void WebRemoteServer::onText(QWebSocket *socket, const QString &text)
{
    Client *client = clientFor(socket);
    if (!client)
        return;
    if (!takeToken(*client)) {
        drop(socket,
             QStringLiteral("too many messages from %1; connection closed").arg(peer(socket)));
        return;
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        drop(socket, QStringLiteral("bad JSON from %1; connection closed").arg(peer(socket)));
        return;
    }
    handleCommand(*client, document.object());
}

void WebRemoteServer::onBinary(QWebSocket *socket)
{
    if (clientFor(socket))
        drop(socket, QStringLiteral("binary message from %1; connection closed").arg(peer(socket)));
}

void WebRemoteServer::handleCommand(Client &client, const QJsonObject &message)
{
    const webcommand::Command command = webcommand::parse(message, m_show);
    if (const auto *auth = std::get_if<webcommand::Auth>(&command)) {
        if (client.admitted)
            return;
        if (auth->pin == m_pin) {
            m_pinFailures.remove(peer(client.socket));
            admit(client);
        } else {
            wrongPin(client, peer(client.socket));
        }
        return;
    }
    if (!client.admitted) {
        say(QStringLiteral("ignored a command sent before the PIN"));
        return;
    }
    if (const auto *rejected = std::get_if<webcommand::Rejected>(&command)) {
        say(QStringLiteral("ignored a command: ") + rejected->reason);
        return;
    }
    const QByteArray &bytes = std::get<webcommand::ForLive>(command).bytes;
    m_live.send(bytes);
    // The Ableton socket merged a setlist into the cache: show it before Live answers.
    if (quint8(bytes.at(0)) == quint8(livelink::ClientType::Setlist))
        broadcastChanges();
}

void WebRemoteServer::wrongPin(Client &client, const QString &peer)
{
    say(QStringLiteral("wrong PIN from ") + peer);
    PinFailures &failures = m_pinFailures[peer];
    if (++failures.count >= m_limits.wrongPins) {
        failures.shutOutSince.start();
        drop(client.socket, QStringLiteral("too many wrong PINs from %1; shut out for %2 s")
                                .arg(peer)
                                .arg(m_limits.pinLockout.count() / 1000.0));
        return;
    }
    sendJson(client.socket,
             {{QStringLiteral("type"), QStringLiteral("pin")}, {QStringLiteral("wrong"), true}});
}

bool WebRemoteServer::isShutOut(const QString &peer)
{
    const auto it = m_pinFailures.find(peer);
    if (it == m_pinFailures.end() || !it->shutOutSince.isValid())
        return false;
    if (!it->shutOutSince.hasExpired(m_limits.pinLockout.count()))
        return true;
    m_pinFailures.erase(it); // a fresh start after the wait
    return false;
}

void WebRemoteServer::drop(QWebSocket *socket, const QString &why)
{
    say(why);
    forget(socket);
    socket->close(QWebSocketProtocol::CloseCodePolicyViolated);
}

void WebRemoteServer::forget(QWebSocket *socket)
{
    const auto it = std::find_if(m_clients.begin(), m_clients.end(),
                                 [socket](const auto &client) { return client->socket == socket; });
    if (it == m_clients.end())
        return;
    m_clients.erase(it);
    say(QStringLiteral("browser disconnected (%1 open)").arg(m_clients.size()));
    emit browserCountChanged(browserCount());
}

void WebRemoteServer::onLiveMessage(const QByteArray &payload)
{
    switch (quint8(payload.at(0))) {
    case quint8(livelink::ServerType::PlayingState):
        if (payload.size() < 2 || (payload.at(1) != 1 && payload.at(1) != 2))
            return;
        m_playing = payload.at(1) == 1;
        break;
    case quint8(livelink::ServerType::SetlistMarks):
        m_show.takeMarks(m_cache.currentState());
        break;
    case quint8(livelink::ServerType::SongPool):
    case quint8(livelink::ServerType::SelectedIndex):
    case quint8(livelink::ServerType::CueMode):
    case quint8(livelink::ServerType::Tempo):
    case quint8(livelink::ServerType::SongPosition):
    case quint8(livelink::ServerType::Sections):
        break;
    default:
        return; // nothing the page shows
    }
    broadcastChanges();
}

void WebRemoteServer::onLiveConnected(bool connected)
{
    m_liveUp = connected;
    if (!connected)
        m_playing = false;
    broadcastChanges();
}

void WebRemoteServer::broadcastChanges()
{
    const QJsonObject now = m_show.snapshot(m_cache.currentState(), m_liveUp, m_playing);
    QJsonObject delta = WebShowState::changedFields(m_lastState, now);
    m_lastState = now;
    if (delta.isEmpty())
        return;
    delta.insert(QStringLiteral("type"), QStringLiteral("update"));
    const QString text = QString::fromUtf8(QJsonDocument(delta).toJson(QJsonDocument::Compact));
    for (const auto &client : m_clients) {
        if (client->admitted && client->socket)
            client->socket->sendTextMessage(text);
    }
}

void WebRemoteServer::sendHeartbeat()
{
    if (m_clients.empty()) {
        m_heartbeat.stop();
        return;
    }
    // Pages waiting for the PIN get it too: they must notice a vanished daemon as well.
    static const QString alive = QStringLiteral("{\"type\":\"alive\"}");
    for (const auto &client : m_clients) {
        if (client->socket)
            client->socket->sendTextMessage(alive);
    }
}

void WebRemoteServer::sendJson(QWebSocket *socket, const QJsonObject &message)
{
    if (socket)
        socket->sendTextMessage(
            QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
}
