// SPDX-License-Identifier: MIT
#include "webremoterig.h"

#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;

BrowserClient::BrowserClient(const QString &origin) : m_socket(origin)
{
    QObject::connect(&m_socket, &QWebSocket::textMessageReceived, this,
                     [this](const QString &text) {
                         messages.append(QJsonDocument::fromJson(text.toUtf8()).object());
                     });
}

bool BrowserClient::open(quint16 port)
{
    QSignalSpy connected(&m_socket, &QWebSocket::connected);
    m_socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/ws").arg(port)));
    return connected.wait(5000);
}

void BrowserClient::send(const QJsonObject &message)
{
    m_socket.sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson()));
}

WebRemoteRig::WebRemoteRig(WebRemoteServer::Limits limits)
    : live(cache, phone, AbletonSocket::Timing{50ms, 100ms}), web(cache, live, limits)
{
    web.start(0);
}

bool WebRemoteRig::validateLive()
{
    live.connectToLive(server.port());
    if (!QTest::qWaitFor([this] { return server.hasClient(); }))
        return false;
    server.writeIdentity();
    return liveReceived(QByteArrayLiteral("MARQUELL_CLIENT"));
}

QString WebRemoteRig::ownOrigin() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(web.port());
}

std::unique_ptr<BrowserClient> WebRemoteRig::browser()
{
    auto client = std::make_unique<BrowserClient>(ownOrigin());
    if (!client->open(web.port()))
        return nullptr;
    return client;
}

bool WebRemoteRig::liveReceived(const QByteArray &bytes)
{
    if (!QTest::qWaitFor([&] { return server.received().size() >= bytes.size(); }))
        return false;
    return server.takeReceived() == bytes;
}
