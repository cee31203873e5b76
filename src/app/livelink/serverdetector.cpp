// SPDX-License-Identifier: MIT
#include "serverdetector.h"

#include "log.h"
#include "serverdetectordelegate.h"
#include "serverportfile.h"
#include "socketclient.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int publishedPort()
{
    return serverportfile::readServerPort(serverportfile::serverConfigPath())
        .value_or(serverportfile::kDefaultPort);
}

// A TCP connect with a time-out of its own; runs on a pool thread.
bool probe(const QByteArray &ipAddress, int port, std::chrono::milliseconds timeout)
{
    if (port < 0 || port > 65535) {
        mlog::stamped(QStringLiteral("Server unreachable."));
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<quint16>(port));
    if (inet_pton(AF_INET, ipAddress.constData(), &address.sin_addr) != 1)
        address.sin_addr.s_addr =
            htonl(INADDR_ANY); // an address that does not parse leaves 0.0.0.0

    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        mlog::stamped(QStringLiteral("Failed to create socket for detection."));
        return false;
    }
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL, 0) | O_NONBLOCK);

    bool reachable = false;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0) {
        reachable = true;
    } else if (errno == EINPROGRESS) {
        pollfd waiter{fd, POLLOUT, 0};
        int ready = 0;
        do {
            ready = ::poll(&waiter, 1, static_cast<int>(timeout.count()));
        } while (ready < 0 && errno == EINTR);
        if (ready > 0) {
            int error = 0;
            socklen_t size = sizeof error;
            reachable = ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
        }
    }
    ::close(fd);
    mlog::stamped(reachable ? QStringLiteral("Server reachability confirmed.")
                            : QStringLiteral("Server unreachable."));
    return reachable;
}

QString decimalSeconds(double seconds)
{
    QString text = QString::number(seconds, 'g', 15);
    if (!text.contains(QLatin1Char('.')) && !text.contains(QLatin1Char('e')))
        text += QStringLiteral(".0");
    return text;
}

} // namespace

ServerDetector::ServerDetector(SocketClient &client, QObject *parent)
    : QObject(parent), m_client(client), m_port(publishedPort()),
      m_serverFile(serverportfile::serverConfigPath())
{
    m_timer.setInterval(kDefaultInterval);
    QObject::connect(&m_timer, &QTimer::timeout, this, &ServerDetector::performDetection);
    QObject::connect(&m_serverFile, &ServerFileWatcher::changed, this,
                     &ServerDetector::onServerFileChanged);
}

ServerDetector::~ServerDetector() = default;

void ServerDetector::setInterval(std::chrono::milliseconds interval)
{
    m_timer.setInterval(interval);
}

QString ServerDetector::endpoint() const
{
    return m_ipAddress + QLatin1Char(':') + QString::number(m_port);
}

void ServerDetector::updateParameters(const QString &ipAddress, int port)
{
    mlog::stamped(
        QStringLiteral("Updating server detector parameters to %1:%2.").arg(ipAddress).arg(port));
    m_ipAddress = ipAddress;
    m_port = port;
    m_changedWhileBusy = false; // the new endpoint is the news
    reset();
}

void ServerDetector::startDetection()
{
    m_client.clearServerValidated();
    mlog::stamped(QStringLiteral("Starting server detection loop."));
    if (m_delegate)
        m_delegate->showServerStatus(
            QStringLiteral("Detecting server on \nPort %1...").arg(m_port));
    m_timer.start(); // first tick one interval from now
    // Live moved to another port while a connection was under way: no need to wait.
    if (std::exchange(m_changedWhileBusy, false) && publishedPort() != m_port)
        performDetection();
}

void ServerDetector::reset()
{
    mlog::stamped(QStringLiteral("Resetting server detector state."));
    mlog::stamped(QStringLiteral("Stopping server detection loop."));
    m_timer.stop();
    m_detectionAttemptCount = 0;
    m_hasConnectedOnce = false;
    ++m_cycle;
}

void ServerDetector::performDetection()
{
    if (m_hasConnectedOnce) {
        mlog::stamped(QStringLiteral("Connection already successful. Detection loop stopped."));
        mlog::stamped(QStringLiteral("Stopping server detection loop."));
        m_timer.stop();
        return;
    }
    const int port = publishedPort();
    if (port != m_port) {
        mlog::stamped(
            QStringLiteral("Published port changed from %1 to %2.").arg(m_port).arg(port));
        m_port = port;
    }
    ++m_detectionAttemptCount;
    mlog::stamped(
        QStringLiteral("Performing server detection. Attempt #%1").arg(m_detectionAttemptCount));
    checkReachability();
}

void ServerDetector::onServerFileChanged()
{
    if (!m_timer.isActive() || m_hasConnectedOnce) {
        m_changedWhileBusy = true; // not searching, or a connection is on its way
        return;
    }
    // One probe at a time from here: two that both succeed would connect twice.
    if (m_probesInFlight > 0) {
        m_probeAgain = true;
        return;
    }
    performDetection();
}

void ServerDetector::checkReachability()
{
    const QByteArray ip = m_ipAddress.toLatin1();
    const int port = m_port;
    const QString where = endpoint();
    const auto timeout = m_probeTimeout;
    const quint64 cycle = m_cycle;
    QPointer<ServerDetector> self(this);
    // The application object outlives the detector; the weak pointer is only read
    // back on the main thread, where the detector is destroyed.
    QObject *context = QCoreApplication::instance();
    ++m_probesInFlight;
    QThreadPool::globalInstance()->start([=] {
        mlog::stamped(QStringLiteral("Checking server reachability at %1.").arg(where));
        const bool reachable = probe(ip, port, timeout);
        QMetaObject::invokeMethod(
            context,
            [self, reachable, where, cycle] {
                if (!self)
                    return;
                --self->m_probesInFlight;
                self->onReachability(reachable, where, cycle);
            },
            Qt::QueuedConnection);
    });
}

void ServerDetector::onReachability(bool reachable, const QString &where, quint64 cycle)
{
    // A result of an earlier cycle (reset since) belongs to a finished search.
    if (cycle == m_cycle && !reachable)
        mlog::stamped(QStringLiteral("Server not detected on %1. Will retry.").arg(where));
    if (cycle == m_cycle && reachable) {
        mlog::stamped(
            QStringLiteral("Server detected on %1. Scheduling a one-time connection.").arg(where));
        m_hasConnectedOnce = true;
        QTimer::singleShot(0, this, [this] { attemptConnection(0.0); });
    }
    if (m_probeAgain && m_probesInFlight == 0) {
        m_probeAgain = false;
        onServerFileChanged();
    }
}

void ServerDetector::attemptConnection(double delaySeconds)
{
    if (m_isConnecting) {
        mlog::stamped(QStringLiteral(
            "Connection attempt already in progress. Skipping duplicate connection."));
        return;
    }
    m_isConnecting = true;
    mlog::stamped(
        QStringLiteral("Attempting to connect to server on %1 after a delay of %2 seconds.")
            .arg(endpoint(), decimalSeconds(delaySeconds)));
    QTimer::singleShot(std::chrono::milliseconds(qRound64(delaySeconds * 1000.0)), this, [this] {
        mlog::stamped(QStringLiteral("Initiating connection to server on %1.").arg(endpoint()));
        m_client.connectToServer(m_ipAddress, m_port);
        m_isConnecting = false;
    });
}
