// SPDX-License-Identifier: MIT
#pragma once

#include "webaddress.h"
#include "webshowstate.h"

#include <QElapsedTimer>
#include <QHash>
#include <QHttpServer>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <memory>
#include <vector>

class AbletonSocket;
class DaemonStateCache;
class QWebSocket;

// The web remote: serves the page over HTTP and the show over one WebSocket per
// browser. Every browser gets the whole show when it connects and each change
// after; its commands go to Live through the Ableton socket, as the phone's do.
// Lives on the main thread, like the cache it reads.
class WebRemoteServer final : public QObject
{
    Q_OBJECT

public:
    struct Limits
    {
        qint64 maxMessageBytes = 16 * 1024; // a 256-song setlist of ids fits easily
        double messagesPerSecond = 20.0;    // sustained, per browser
        double burst = 40.0;                // taps in a row before the rate counts
        int wrongPins = 5;                  // from one address: it is shut out for a while
        std::chrono::milliseconds pinLockout{30000};
        // A page that hears nothing for three of these counts the daemon as gone:
        // a frozen daemon or a dropped Wi-Fi would otherwise show the last state as live.
        std::chrono::milliseconds heartbeat{2000};
    };

    WebRemoteServer(DaemonStateCache &cache, AbletonSocket &live, Limits limits,
                    QObject *parent = nullptr);
    WebRemoteServer(DaemonStateCache &cache, AbletonSocket &live, QObject *parent = nullptr)
        : WebRemoteServer(cache, live, Limits(), parent)
    {}
    ~WebRemoteServer() override;

    // Listens on every interface on the wanted port, or on one the system picks
    // when that port cannot be had. False when no port could be bound.
    bool start(quint16 wantedPort);
    // Empty: no PIN.
    void setPin(const QString &pin) { m_pin = pin; }

    quint16 port() const { return m_port; }
    bool usingFallbackPort() const { return m_usingFallbackPort; }
    // What the log and the menu show; empty before start succeeded.
    webaddress::Addresses addresses() const;
    int browserCount() const { return int(m_clients.size()); }

signals:
    void browserCountChanged(int count);

private:
    struct Client
    {
        QPointer<QWebSocket> socket;
        bool admitted = false; // gave the PIN, or none is needed
        double tokens = 0.0;
        QElapsedTimer refill;
    };

    void addRoutes();
    void acceptSockets();
    void admit(Client &client);
    void onText(QWebSocket *socket, const QString &text);
    void onBinary(QWebSocket *socket);
    bool takeToken(Client &client);
    void handleCommand(Client &client, const QJsonObject &message);
    void drop(QWebSocket *socket, const QString &why);
    void forget(QWebSocket *socket);
    Client *clientFor(QWebSocket *socket);
    bool isShutOut(const QString &peer);
    void wrongPin(Client &client, const QString &peer);
    void onLiveMessage(const QByteArray &payload);
    void onLiveConnected(bool connected);
    void broadcastChanges();
    void sendJson(QWebSocket *socket, const QJsonObject &message);
    void sendHeartbeat();

    DaemonStateCache &m_cache;
    AbletonSocket &m_live;
    Limits m_limits;
    QHttpServer m_http;
    quint16 m_port = 0;
    bool m_usingFallbackPort = false;
    QString m_pin;
    std::vector<std::unique_ptr<Client>> m_clients;
    // Wrong PINs by address, so guessing cannot go on by reconnecting.
    struct PinFailures
    {
        int count = 0;
        QElapsedTimer shutOutSince;
    };
    QHash<QString, PinFailures> m_pinFailures;
    QTimer m_heartbeat; // runs only while a browser is connected
    WebShowState m_show;
    QJsonObject m_lastState; // what every admitted browser has now
    bool m_liveUp = false;
    bool m_playing = false;
};
