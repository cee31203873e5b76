// SPDX-License-Identifier: MIT
#pragma once

#include "serverfilewatcher.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>

class ServerDetectorDelegate;
class SocketClient;

// Looks for the Live link server: every interval it re-reads the published port,
// probes it with a plain TCP connect off the main thread and, once something
// listens, asks the socket client to connect, once. The socket client restarts the
// search after every teardown. Every step is logged with a time stamp. Besides the
// interval, a change of server.json probes at once: Live is found as soon as it
// publishes its port.
// Main thread only (the probe hops off and back by itself).
class ServerDetector final : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kDefaultInterval{2000};
    // A black-holed port must not stall the loop; a closed local port refuses at once.
    static constexpr std::chrono::milliseconds kDefaultProbeTimeout{1000};

    // Reads the published port (6000 when there is none).
    explicit ServerDetector(SocketClient &client, QObject *parent = nullptr);
    ~ServerDetector() override;

    void setDelegate(ServerDetectorDelegate *delegate) { m_delegate = delegate; }
    void setInterval(std::chrono::milliseconds interval);
    void setProbeTimeout(std::chrono::milliseconds timeout) { m_probeTimeout = timeout; }

    QString ipAddress() const { return m_ipAddress; }
    int port() const { return m_port; }
    int detectionAttemptCount() const { return m_detectionAttemptCount; }
    bool hasConnectedOnce() const { return m_hasConnectedOnce; }
    bool isConnecting() const { return m_isConnecting; }
    bool isDetecting() const { return m_timer.isActive(); }

    void updateParameters(const QString &ipAddress, int port);
    void startDetection();
    void reset();

private:
    void performDetection();
    void onServerFileChanged();
    void checkReachability();
    void onReachability(bool reachable, const QString &endpoint, quint64 cycle);
    void attemptConnection(double delaySeconds);
    QString endpoint() const;

    SocketClient &m_client;
    ServerDetectorDelegate *m_delegate = nullptr;
    QString m_ipAddress = QStringLiteral("0.0.0.0");
    int m_port = 6000;
    QTimer m_timer;
    std::chrono::milliseconds m_probeTimeout = kDefaultProbeTimeout;
    int m_detectionAttemptCount = 0;
    bool m_hasConnectedOnce = false;
    bool m_isConnecting = false;
    quint64 m_cycle = 0; // bumped by reset(): a probe of an earlier cycle reports to nobody
    ServerFileWatcher m_serverFile;
    int m_probesInFlight = 0;
    bool m_probeAgain = false;       // the file changed while a probe ran: probe once more
    bool m_changedWhileBusy = false; // changed while connected: probe when the search restarts
};
