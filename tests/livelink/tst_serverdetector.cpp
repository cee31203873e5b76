// SPDX-License-Identifier: MIT
// The search for the Live link server: ticks, the published port read on every tick,
// the one-time connection, and probes that cannot connect.
#include "liveclientharness.h"
#include "serverportfile.h"

#include <QRegularExpression>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A loopback listener whose accept queue is full and never drained: further connects
// get no answer, like a black-holed port.
class FullListener
{
public:
    FullListener()
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        auto *raw = reinterpret_cast<sockaddr *>(&address);
        if (::bind(m_fds[0], raw, size) != 0 || ::listen(m_fds[0], 0) != 0 ||
            ::getsockname(m_fds[0], raw, &size) != 0)
            return;
        port = ntohs(address.sin_port);
        for (int i = 0; i < 8 && !blackHoled; ++i) {
            const int fd = m_fds.emplaceBack(::socket(AF_INET, SOCK_STREAM, 0));
            ::fcntl(fd, F_SETFL, O_NONBLOCK);
            pollfd waiter{fd, POLLOUT, 0};
            // One that gets no answer shows the queue is full.
            blackHoled = ::connect(fd, raw, size) != 0 && ::poll(&waiter, 1, 200) == 0;
        }
    }
    ~FullListener()
    {
        for (int fd : m_fds)
            ::close(fd);
    }
    int port = 0;
    bool blackHoled = false;

private:
    QList<int> m_fds{::socket(AF_INET, SOCK_STREAM, 0)};
};

} // namespace

class TestServerDetector : public QObject
{
    Q_OBJECT

private slots:
    // The port comes from server.json (6000 without one) and is read again on every
    // detection; once connected the loop stops.
    void findsThePublishedPort_data()
    {
        QTest::addColumn<bool>("fromDefault");
        QTest::newRow("from 6000 before the first tick") << true;
        QTest::newRow("from a dead port while searching") << false;
    }
    void findsThePublishedPort()
    {
        QFETCH(bool, fromDefault);
        LiveClientHarness h;
        h.server.setGreeting(frame(livelink::kServerIdentity));
        const int dead = ScriptedLiveServer::closedPort();
        if (fromDefault)
            QVERIFY(QFile::remove(serverportfile::serverConfigPath()));
        else
            h.home.writeServerJson(portJson(dead));
        const int port = fromDefault ? 6000 : dead;
        ServerDetector d(h.client);
        RecordingDetectorDelegate status;
        d.setDelegate(&status);
        d.setInterval(fromDefault ? 1h : 100ms);
        QCOMPARE(d.ipAddress(), QStringLiteral("0.0.0.0"));
        QCOMPARE(d.port(), port);
        d.updateParameters(QStringLiteral("127.0.0.1"), port);
        d.startDetection();
        QCOMPARE(status.events,
                 QStringList{QStringLiteral("status: Detecting server on \nPort %1...").arg(port)});
        if (!fromDefault) // else no tick: nothing probes 6000
            QTRY_COMPARE(h.notDetected(dead), 1);
        d.setInterval(1h); // the change alone, one probe: a tick could add a second
        h.home.writeServerJson(portJson(h.server.port()));
        QTRY_COMPARE(h.status.count(kConnected), 1);
        QCOMPARE(d.port(), h.server.port());
        d.setInterval(100ms); // the next tick ends the loop
        QTRY_VERIFY(!d.isDetecting());
        QVERIFY(!h.log.contains(QStringLiteral("Checking server reachability at 127.0.0.1:6000.")));
        QCOMPARE(h.server.acceptedCount(), 2); // the probe, then the connection
        QCOMPARE(h.server.openConnections(), 1);
        // The detector's lines carry a time stamp.
        const QRegularExpression stamp(
            "^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] ");
        for (const QString &line : h.log.outLines())
            QVERIFY2(stamp.match(line).hasMatch(), qPrintable(line));
    }

    void noServerRetriesEveryTick()
    {
        LiveClientHarness h;
        const int port = ScriptedLiveServer::closedPort();
        h.home.writeServerJson(portJson(port));
        h.detector.setInterval(50ms);
        h.detector.updateParameters(QStringLiteral("127.0.0.1"), port);
        h.detector.startDetection();
        QTRY_VERIFY(h.notDetected(port) >= 3);
        QVERIFY(h.log.contains(QStringLiteral("Performing server detection. Attempt #3")));
        h.detector.reset();
        QCOMPARE(h.detector.detectionAttemptCount(), 0);
        QVERIFY(!h.detector.hasConnectedOnce());
    }

    void searchStartsOverAfterLostConnection()
    {
        LiveClientHarness h;
        h.server.setGreeting(frame(livelink::kServerIdentity));
        h.detector.setInterval(50ms);
        h.detector.startDetection();
        QTRY_COMPARE(h.status.count(kConnected), 1);
        h.server.closeClients();
        QTRY_COMPARE(h.status.count(kConnected), 2);
        QCOMPARE(h.status.count(kFailed), 1);
        QCOMPARE(h.log.count("Performing server detection. Attempt #1"), 2);
        QCOMPARE(h.log.count("Performing server detection. Attempt #2"), 0);
    }

    // A probe that gets no answer times out; a detector destroyed while its probe
    // waits must not hear the late result.
    void blackHoledPortDoesNotStallTheLoop()
    {
        FullListener listener;
        if (!listener.blackHoled)
            QSKIP("this kernel answers connects to a full accept queue");
        LiveClientHarness h;
        h.home.writeServerJson(portJson(listener.port));
        auto *detector = new ServerDetector(h.client);
        detector->setInterval(300ms);
        detector->setProbeTimeout(150ms);
        detector->updateParameters(QStringLiteral("127.0.0.1"), listener.port);
        detector->startDetection();
        QTRY_VERIFY(h.notDetected(listener.port) >= 2);
        const int unreachable = h.log.count("Server unreachable.");
        QTRY_VERIFY(h.log.messages().last().startsWith("Checking server reachability"));
        const int notDetected = h.notDetected(listener.port);
        delete detector;
        QTRY_COMPARE(h.log.count("Server unreachable."), unreachable + 1);
        QTest::qWait(50); // let the posted result run
        QCOMPARE(h.notDetected(listener.port), notDetected);
    }
};

QTEST_MAIN(TestServerDetector)
#include "tst_serverdetector.moc"
