// SPDX-License-Identifier: MIT
#include "abletonsocket.h"
#include "daemonlivefixture.h"
#include "daemonstatecache.h"
#include "liveclientharness.h"
#include "livereconnector.h"
#include "serverportfile.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

namespace {

enum class Misbehaviour
{
    SilentAfterAccept,
    WrongIdentity,
    Length4097,
    CloseMidFrame,
    Garbage,
    NeverReads, // the kernel accepts; the server never takes or reads the connection
};

// A server on a free loopback port that misbehaves as told towards every client.
struct BadServer
{
    explicit BadServer(Misbehaviour how)
    {
        QByteArray greeting;
        if (how == Misbehaviour::WrongIdentity)
            greeting = frame("MARQUELL_SERVEX");
        else if (how == Misbehaviour::Length4097)
            greeting = bytes({0, 0, 0x10, 0x01}) + QByteArray(64, 'x');
        else if (how == Misbehaviour::CloseMidFrame)
            greeting = bytes({0, 0, 0, 100}) + QByteArray(10, 'x');
        else if (how == Misbehaviour::Garbage) {
            greeting.resize(1 << 20);
            QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(greeting.data()),
                                                  greeting.size() / 4);
            greeting[0] = char(0x7F); // never a length the programs accept
        }
        server.setGreeting(greeting);
        if (how == Misbehaviour::NeverReads)
            pausedServer.listen(QHostAddress::LocalHost, 0), pausedServer.pauseAccepting();
        closeAfterGreeting = how == Misbehaviour::CloseMidFrame;
    }
    quint16 port() const
    {
        return pausedServer.isListening() ? pausedServer.serverPort() : server.port();
    }
    // Closes a mid-frame connection once the client has its piece.
    void poll()
    {
        if (closeAfterGreeting && server.hasClient())
            server.closeClients();
    }

    ScriptedLiveServer server;
    QTcpServer pausedServer;
    bool closeAfterGreeting = false;
};

void addRows()
{
    QTest::addColumn<Misbehaviour>("how");
    QTest::newRow("silent after accept") << Misbehaviour::SilentAfterAccept;
    QTest::newRow("wrong identity") << Misbehaviour::WrongIdentity;
    QTest::newRow("length 4097") << Misbehaviour::Length4097;
    QTest::newRow("closed mid-frame") << Misbehaviour::CloseMidFrame;
    QTest::newRow("1 MB of garbage") << Misbehaviour::Garbage;
    QTest::newRow("never reads") << Misbehaviour::NeverReads;
}

// Live, back on another port while the bad server is still up.
struct GoodServer
{
    GoodServer() { server.setGreeting(frame(livelink::kServerIdentity)); }
    bool answered() const { return server.received() == livelink::kClientIdentity; }
    ScriptedLiveServer server;
};

constexpr int kRecoveryMs = 3500;

} // namespace

Q_DECLARE_METATYPE(Misbehaviour)

class TestMisbehavingServers : public QObject
{
    Q_OBJECT

private slots:
    void applicationRecovers_data() { addRows(); }
    void applicationRecovers()
    {
        QFETCH(Misbehaviour, how);
        LiveClientHarness h(SocketClient::kDefaultValidationTimeout);
        h.detector.setInterval(ServerDetector::kDefaultInterval);
        h.server.stopListening();
        h.detector.startDetection();
        BadServer bad(how);
        h.home.writeServerJson(portJson(bad.port()));
        QTRY_VERIFY_WITH_TIMEOUT((bad.poll(), h.status.count(kWaiting) > 0), 3000);

        GoodServer live;
        h.home.writeServerJson(portJson(live.server.port()));
        QTRY_VERIFY_WITH_TIMEOUT((bad.poll(), live.answered()), kRecoveryMs);
        QTRY_COMPARE(h.status.count(kConnected), 1);
        // Between the bad server and Live the window showed a failure or a search.
        const QStringList events = h.status.events;
        const qsizetype connected = events.indexOf(kConnected);
        qsizetype failedOrSearching = -1;
        for (qsizetype i = events.indexOf(kWaiting); i >= 0 && i < connected; ++i)
            if (events[i] == kFailed || events[i].startsWith(QLatin1String("status: Detecting")))
                failedOrSearching = i;
        QVERIFY2(failedOrSearching >= 0 && failedOrSearching < connected,
                 qPrintable(events.join(QStringLiteral(" | "))));
    }

    void daemonRecovers_data() { addRows(); }
    void daemonRecovers()
    {
        QFETCH(Misbehaviour, how);
        TempHome home;
        mlog::Capture log;
        BadServer bad(how);
        home.writeServerJson(portJson(bad.port()));
        RecordingPhone phone;
        DaemonStateCache cache(phone);
        AbletonSocket socket(cache, phone);
        LiveReconnector reconnector(socket, serverportfile::serverConfigPath());
        QSignalSpy connected(&socket, &AbletonSocket::isConnectedChanged);
        reconnector.start();
        QTRY_VERIFY_WITH_TIMEOUT((bad.poll(), connected.contains({true})), 3000);

        GoodServer live;
        home.writeServerJson(portJson(live.server.port()));
        QTRY_VERIFY_WITH_TIMEOUT((bad.poll(), live.answered()), kRecoveryMs);
        QVERIFY(socket.serverValidated());
        QCOMPARE(log.count(QStringLiteral("Server validated")), 1);
    }
};

QTEST_GUILESS_MAIN(TestMisbehavingServers)
#include "tst_misbehavingservers.moc"
