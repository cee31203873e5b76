// SPDX-License-Identifier: MIT
#pragma once

#include "abletonsocket.h"
#include "daemonstatecache.h"
#include "nophonerelay.h"
#include "scriptedliveserver.h"
#include "webremoteserver.h"

#include <QJsonObject>
#include <QList>
#include <QWebSocket>

// A browser as the web remote sees it: one WebSocket with a chosen Origin, keeping
// every JSON message the daemon sends.
class BrowserClient final : public QObject
{
    Q_OBJECT

public:
    explicit BrowserClient(const QString &origin);
    // Opens ws://127.0.0.1:port/ws and waits for the handshake; false when refused.
    bool open(quint16 port);
    void send(const QJsonObject &message);
    void sendText(const QString &text) { m_socket.sendTextMessage(text); }
    void sendBinary(const QByteArray &bytes) { m_socket.sendBinaryMessage(bytes); }
    bool isOpen() const { return m_socket.state() == QAbstractSocket::ConnectedState; }

    QList<QJsonObject> messages;

private:
    QWebSocket m_socket;
};

// The daemon's Live side and web remote, with a scripted Live server behind them.
struct WebRemoteRig
{
    explicit WebRemoteRig(WebRemoteServer::Limits limits = {});

    // Connects the daemon to the scripted server and answers the handshake.
    bool validateLive();
    // The origin of the page the rig's server serves.
    QString ownOrigin() const;
    // A browser of the daemon's own page, connected; none when it was refused.
    std::unique_ptr<BrowserClient> browser();
    // Waits until the server has received exactly these bytes since the last take.
    bool liveReceived(const QByteArray &bytes);

    NoPhoneRelay phone;
    DaemonStateCache cache{phone};
    AbletonSocket live;
    ScriptedLiveServer server;
    WebRemoteServer web;
};
