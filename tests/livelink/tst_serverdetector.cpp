// SPDX-License-Identifier: MIT
// The search for the Live link server: ticks, the published port read on every tick,
// the one-time connection, and probes that cannot connect.
#include "liveclientharness.h"

#include <QRegularExpression>

#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The application's detection objects, wired as the executable wires them.
struct Detection
{
    mlog::Capture log;
    TransportMappings mappings;
    SocketClient client{mappings};
    ServerDetector detector{client};
    RecordingDetectorDelegate status;

    explicit Detection(std::chrono::milliseconds interval)
    {
        client.setServerDetector(&detector);
        client.setServerDetectorDelegate(&status);
        detector.setDelegate(&status);
        detector.setInterval(interval);
    }
    int notDetected(int port) const
    {
        return log.count(
            QStringLiteral("Server not detected on 127.0.0.1:%1. Will retry.").arg(port));
    }
};

// A loopback listener whose accept queue is full and never drained: further connects
// get no answer, like a black-holed port.
class FullListener
{
public:
    FullListener()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(m_listener, reinterpret_cast<sockaddr *>(&address), size) != 0 ||
            ::listen(m_listener, 0) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &size) != 0)
            return;
        m_port = ntohs(address.sin_port);
        for (int i = 0; i < 8; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            ::fcntl(fd, F_SETFL, O_NONBLOCK);
            m_fillers.append(fd);
            if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0)
                continue;
            pollfd waiter{fd, POLLOUT, 0};
            if (::poll(&waiter, 1, 200) == 0) {
                m_blackHoled = true; // this one got no answer: the queue is full
                return;
            }
        }
    }
    ~FullListener()
    {
        for (int fd : m_fillers)
            ::close(fd);
        if (m_listener >= 0)
            ::close(m_listener);
    }
    int port() const { return m_port; }
    bool blackHoled() const { return m_blackHoled; }

private:
    int m_listener = -1;
    int m_port = 0;
    bool m_blackHoled = false;
    QList<int> m_fillers;
};

} // namespace

class TestServerDetector : public QObject
{
    Q_OBJECT

private slots:
    void startsFromPublishedPortOrDefault_data()
    {
        QTest::addColumn<QByteArray>("json"); // empty: no file
        QTest::addColumn<int>("port");
        QTest::newRow("no file") << QByteArray() << 6000;
        QTest::newRow("published 6100") << portJson(6100) << 6100;
    }
    void startsFromPublishedPortOrDefault()
    {
        QFETCH(QByteArray, json);
        QFETCH(int, port);
        TempHome home;
        if (!json.isEmpty())
            home.writeServerJson(json);
        Detection d(1h);
        QCOMPARE(d.detector.ipAddress(), QStringLiteral("0.0.0.0"));
        QCOMPARE(d.detector.port(), port);
        d.detector.startDetection();
        QCOMPARE(d.status.events,
                 QStringList{QStringLiteral("status: Detecting server on \nPort %1...").arg(port)});
        // The detector's lines carry a time stamp.
        const QRegularExpression stamp(
            "^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] ");
        QVERIFY(!d.log.outLines().isEmpty());
        for (const QString &line : d.log.outLines())
            QVERIFY2(stamp.match(line).hasMatch(), qPrintable(line));
        QVERIFY(d.detector.isDetecting());
        d.detector.reset();
        QVERIFY(!d.detector.isDetecting());
    }

    void noServerRetriesEveryTick()
    {
        TempHome home;
        const int port = ScriptedLiveServer::closedPort();
        home.writeServerJson(portJson(port));
        Detection d(50ms);
        d.detector.updateParameters(QStringLiteral("127.0.0.1"), port);
        d.detector.startDetection();
        QTRY_VERIFY(d.notDetected(port) >= 3);
        QVERIFY(d.log.contains(QStringLiteral("Performing server detection. Attempt #3")));
        d.detector.reset();
        QCOMPARE(d.detector.detectionAttemptCount(), 0);
        QVERIFY(!d.detector.hasConnectedOnce());
    }

    // server.json is read on every tick; once connected the loop stops.
    void publishedPortChangeIsPickedUp_data()
    {
        QTest::addColumn<bool>("fromDefault");
        QTest::newRow("from 6000 before the first tick") << true;
        QTest::newRow("from a dead port while searching") << false;
    }
    void publishedPortChangeIsPickedUp()
    {
        QFETCH(bool, fromDefault);
        TempHome home;
        const int dead = ScriptedLiveServer::closedPort();
        if (!fromDefault)
            home.writeServerJson(portJson(dead));
        ScriptedLiveServer server;
        server.setGreeting(frame(livelink::kServerIdentity));
        Detection d(100ms);
        QCOMPARE(d.detector.port(), fromDefault ? 6000 : dead);
        d.detector.updateParameters(QStringLiteral("127.0.0.1"), d.detector.port());
        d.detector.startDetection();
        if (!fromDefault) // else written before the event loop runs: no tick probes 6000
            QTRY_COMPARE(d.notDetected(dead), 1);
        home.writeServerJson(portJson(server.port()));
        QTRY_COMPARE(d.status.count(kConnected), 1);
        QCOMPARE(d.detector.port(), server.port());
        QTRY_VERIFY(!d.detector.isDetecting());
        QVERIFY(!d.log.contains(QStringLiteral("Checking server reachability at 127.0.0.1:6000.")));
        QCOMPARE(server.acceptedCount(), 2); // the probe, then the connection
        QCOMPARE(server.openConnections(), 1);
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
        if (!listener.blackHoled())
            QSKIP("this kernel answers connects to a full accept queue");
        TempHome home;
        home.writeServerJson(portJson(listener.port()));
        Detection d(300ms);
        auto *detector = new ServerDetector(d.client);
        detector->setInterval(300ms);
        detector->setProbeTimeout(150ms);
        detector->updateParameters(QStringLiteral("127.0.0.1"), listener.port());
        detector->startDetection();
        QTRY_VERIFY(d.notDetected(listener.port()) >= 2);
        const int unreachable = d.log.count("Server unreachable.");
        QTRY_VERIFY(d.log.messages().last().startsWith("Checking server reachability"));
        const int notDetected = d.notDetected(listener.port());
        delete detector;
        QTRY_COMPARE(d.log.count("Server unreachable."), unreachable + 1);
        QTest::qWait(50); // let the posted result run
        QCOMPARE(d.notDetected(listener.port()), notDetected);
    }
};

QTEST_MAIN(TestServerDetector)
#include "tst_serverdetector.moc"
