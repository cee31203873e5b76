// SPDX-License-Identifier: MIT
#pragma once

#include "abletonsocket.h"
#include "daemonstatecache.h"
#include "nophonerelay.h"
#include "scriptedliveserver.h"
#include "webremoteserver.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>
#include <QWebSocket>

// A browser: one WebSocket with a chosen Origin, keeping every JSON message it gets.
class BrowserClient final : public QObject
{
    Q_OBJECT

public:
    explicit BrowserClient(const QString &origin) : socket(origin)
    {
        QObject::connect(&socket, &QWebSocket::textMessageReceived, this, [this](const QString &t) {
            messages.append(QJsonDocument::fromJson(t.toUtf8()).object());
        });
    }
    bool open(quint16 port)
    {
        QSignalSpy connected(&socket, &QWebSocket::connected);
        socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/ws").arg(port)));
        return connected.wait(5000);
    }
    void send(const QByteArray &json) { socket.sendTextMessage(QString::fromUtf8(json)); }
    bool isOpen() const { return socket.state() == QAbstractSocket::ConnectedState; }

    QWebSocket socket;
    QList<QJsonObject> messages;
};

// The daemon's Live side and web remote, with a scripted Live server behind them.
struct WebRemoteRig
{
    explicit WebRemoteRig(WebRemoteServer::Limits limits = {}, quint16 port = 0)
        : live(cache, phone, {std::chrono::milliseconds(50), std::chrono::milliseconds(100)}),
          web(cache, live, limits)
    {
        web.start(port);
    }

    // Live connected and validated, and `page` connected.
    bool start()
    {
        live.connectToLive(server.port());
        if (!QTest::qWaitFor([this] { return server.hasClient(); }))
            return false;
        server.writeIdentity();
        if (liveReceived(livebytes::daemonReply()))
            page = browser();
        return page != nullptr;
    }
    QString ownOrigin() const { return QStringLiteral("http://127.0.0.1:%1").arg(web.port()); }
    // A browser of the daemon's own page, connected; none when it was refused.
    std::unique_ptr<BrowserClient> browser()
    {
        auto client = std::make_unique<BrowserClient>(ownOrigin());
        return client->open(web.port()) ? std::move(client) : nullptr;
    }
    bool liveReceived(const QByteArray &bytes)
    {
        if (!QTest::qWaitFor([&] { return server.received().size() >= bytes.size(); }))
            return false;
        return server.takeReceived() == bytes;
    }

    NoPhoneRelay phone;
    DaemonStateCache cache{phone};
    AbletonSocket live;
    ScriptedLiveServer server;
    WebRemoteServer web;
    std::unique_ptr<BrowserClient> page; // the browser start() opened
};
