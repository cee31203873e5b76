// SPDX-License-Identifier: MIT
// The search for the Live link server: ticks, log lines, the published port read on
// every tick, the one-time connection, and probes that cannot connect.
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
};

QStringList detectionLines(const mlog::Capture &log)
{
    QStringList out;
    for (const QString &line : log.messages())
        if (!line.startsWith(QLatin1String("Updating")) &&
            !line.startsWith(QLatin1String("Resetting")))
            out.append(line);
    return out;
}

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
        auto &[log, mappings, client, detector, status] = d;
        QCOMPARE(detector.ipAddress(), QStringLiteral("0.0.0.0"));
        QCOMPARE(detector.port(), port);
        detector.updateParameters(QStringLiteral("127.0.0.1"), detector.port());
        detector.startDetection();
        QCOMPARE(status.events,
                 QStringList{QStringLiteral("status: Detecting server on \nPort %1...").arg(port)});
        QCOMPARE(
            log.messages(),
            (QStringList{
                QStringLiteral("Updating server detector parameters to 127.0.0.1:%1.").arg(port),
                "Resetting server detector state.", "Stopping server detection loop.",
                "Starting server detection loop."}));
        for (const QString &line : log.outLines())
            QVERIFY2(
                QRegularExpression("^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] ")
                    .match(line)
                    .hasMatch(),
                qPrintable(line));
        QVERIFY(detector.isDetecting());
        detector.reset();
        QVERIFY(!detector.isDetecting());
    }

    void noServerRetriesEveryTick()
    {
        TempHome home;
        const int port = ScriptedLiveServer::closedPort();
        home.writeServerJson(portJson(port));
        Detection d(50ms);
        auto &[log, mappings, client, detector, status] = d;
        detector.updateParameters(QStringLiteral("127.0.0.1"), port);
        log.clear();
        detector.startDetection();
        QTRY_VERIFY(
            log.count(
                QStringLiteral("Server not detected on 127.0.0.1:%1. Will retry.").arg(port)) >= 3);
        detector.reset();
        const QString where = QStringLiteral("127.0.0.1:%1").arg(port);
        const QStringList oneTick{"", "Checking server reachability at " + where + ".",
                                  "Server unreachable.",
                                  "Server not detected on " + where + ". Will retry."};
        QStringList expected{"Starting server detection loop."};
        for (int attempt = 1; attempt <= 3; ++attempt) {
            QStringList tick = oneTick;
            tick[0] = QStringLiteral("Performing server detection. Attempt #%1").arg(attempt);
            expected += tick;
        }
        QCOMPARE(detectionLines(log).mid(0, expected.size()), expected);
        QCOMPARE(detector.detectionAttemptCount(), 0);
        QCOMPARE(detector.hasConnectedOnce(), false);
    }

    void publishedPortChangeIsPickedUp_data()
    {
        QTest::addColumn<bool>(
            "fromDefault"); // 6000 before any tick, or a dead port while searching
        QTest::newRow("from the default 6000 before the first tick") << true;
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
        auto &[log, mappings, client, detector, status] = d;
        const int before = detector.port();
        QCOMPARE(before, fromDefault ? 6000 : dead);
        detector.updateParameters(QStringLiteral("127.0.0.1"), before);
        detector.startDetection();
        if (fromDefault) {
            // Written before the event loop runs again, so no tick ever probes 6000.
            home.writeServerJson(portJson(server.port()));
        } else {
            QTRY_VERIFY(log.contains(
                QStringLiteral("Server not detected on 127.0.0.1:%1. Will retry.").arg(dead)));
            home.writeServerJson(portJson(server.port()));
        }
        const QString where = QStringLiteral("127.0.0.1:%1").arg(server.port());
        QTRY_VERIFY(log.contains(QStringLiteral("Published port changed from %1 to %2.")
                                     .arg(before)
                                     .arg(server.port())));
        QTRY_COMPARE(status.count(QStringLiteral("Connected to Live")), 1);
        QCOMPARE(detector.port(), server.port());
        QTRY_VERIFY(log.contains("Connection already successful. Detection loop stopped."));
        QVERIFY(!detector.isDetecting());

        const QStringList lines = log.messages();
        const qsizetype changed = lines.indexOf(
            QStringLiteral("Published port changed from %1 to %2.").arg(before).arg(server.port()));
        const QStringList afterChange = lines.mid(changed + 1, 7);
        QCOMPARE(afterChange.mid(0, 2),
                 (QStringList{QStringLiteral("Performing server detection. Attempt #%1")
                                  .arg(detector.detectionAttemptCount()),
                              "Checking server reachability at " + where + "."}));
        const QStringList rest{
            "Server reachability confirmed.",
            "Server detected on " + where + ". Scheduling a one-time connection.",
            "Attempting to connect to server on " + where + " after a delay of 0.0 seconds.",
            "Initiating connection to server on " + where + "."};
        QCOMPARE(afterChange.mid(2, 4), rest);
        QVERIFY(!log.contains(QStringLiteral("Checking server reachability at 127.0.0.1:6000.")));
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
        QTRY_VERIFY(!h.detector.isDetecting());
        QCOMPARE(h.log.count("Performing server detection. Attempt #1"), 1);
        h.server.closeClients();
        QTRY_COMPARE(h.status.count(kConnected), 2);
        QCOMPARE(h.status.count(kFailed), 1);
        QCOMPARE(h.log.count("Performing server detection. Attempt #1"), 2);
        QCOMPARE(h.log.count("Performing server detection. Attempt #2"), 0);
    }

    void blackHoledPortDoesNotStallTheLoop()
    {
        FullListener listener;
        if (!listener.blackHoled())
            QSKIP("this kernel answers connects to a full accept queue");
        TempHome home;
        home.writeServerJson(portJson(listener.port()));
        mlog::Capture log;
        TransportMappings mappings;
        SocketClient client(mappings);
        auto *detector = new ServerDetector(client);
        detector->setInterval(300ms);
        detector->setProbeTimeout(150ms);
        detector->updateParameters(QStringLiteral("127.0.0.1"), listener.port());
        detector->startDetection();
        QTRY_VERIFY(log.count(QStringLiteral("Server not detected on 127.0.0.1:%1. Will retry.")
                                  .arg(listener.port())) >= 2);
        QCOMPARE(log.count("Server reachability confirmed."), 0);

        // Destroyed while its probe still waits: the late result must reach no one.
        const int attemptsBefore = log.count("Server unreachable.");
        QTRY_VERIFY(log.messages().last().startsWith("Checking server reachability"));
        const int notDetected =
            log.count(QStringLiteral("Server not detected on 127.0.0.1:%1. Will retry.")
                          .arg(listener.port()));
        delete detector;
        QTRY_COMPARE(log.count("Server unreachable."), attemptsBefore + 1);
        QTest::qWait(50); // let the posted result run
        QCOMPARE(log.count(QStringLiteral("Server not detected on 127.0.0.1:%1. Will retry.")
                               .arg(listener.port())),
                 notDetected);
    }
};

QTEST_MAIN(TestServerDetector)
#include "tst_serverdetector.moc"
