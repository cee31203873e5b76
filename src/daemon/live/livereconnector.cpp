// SPDX-License-Identifier: MIT
#include "livereconnector.h"

#include "abletonsocket.h"
#include "log.h"
#include "serverportfile.h"

LiveReconnector::LiveReconnector(AbletonSocket &socket, QString serverConfigPath,
                                 std::chrono::milliseconds delay, QObject *parent)
    : QObject(parent), m_socket(socket), m_serverConfigPath(std::move(serverConfigPath)),
      m_serverFile(m_serverConfigPath)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(delay);
    QObject::connect(&m_timer, &QTimer::timeout, this, &LiveReconnector::connectNow);
    QObject::connect(&m_socket, &AbletonSocket::connectionStateChanged, this,
                     &LiveReconnector::onConnectionState);
    QObject::connect(&m_serverFile, &ServerFileWatcher::changed, this,
                     &LiveReconnector::onServerFileChanged);
}

void LiveReconnector::start()
{
    connectNow();
}

quint16 LiveReconnector::portToUse(const QString &serverConfigPath)
{
    const quint16 port = serverportfile::readDaemonServerPort(serverConfigPath);
    if (port != 0)
        return port;
    mlog::out(QStringLiteral("server.json names port 0, which cannot be connected to; using ") +
              QString::number(serverportfile::kDefaultPort));
    return serverportfile::kDefaultPort;
}

void LiveReconnector::onConnectionState(const ConnectionState &state)
{
    if (state.kind != ConnectionState::Kind::Disconnected)
        return;
    if (std::exchange(m_changedWhileConnected, false)) {
        // Live published a new port while this connection lasted: go there now.
        m_timer.stop();
        QMetaObject::invokeMethod(this, &LiveReconnector::connectNow, Qt::QueuedConnection);
        return;
    }
    m_timer.start();
}

void LiveReconnector::connectNow()
{
    const quint16 port = portToUse(m_serverConfigPath);
    emit connecting(port);
    m_socket.connectToLive(port);
}

void LiveReconnector::onServerFileChanged()
{
    if (m_socket.isConnected()) {
        m_changedWhileConnected = true; // the connection's end brings the reconnection
        return;
    }
    m_timer.stop();
    connectNow();
}
