// SPDX-License-Identifier: MIT
#include "abletonsocket.h"
#include "daemonstatecache.h"
#include "livebytes.h"
#include "livereconnector.h"
#include "log.h"
#include "recordingphone.h"
#include "scriptedliveserver.h"
#include "serverportfile.h"
#include "temphome.h"

#include <QSignalSpy>
#include <QtTest>

using namespace livebytes;
using namespace std::chrono_literals;

namespace {

// A loopback port on which nothing listens (bound once, then released).
quint16 closedPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

QByteArray portJson(quint16 port)
{
    return "{\"port\": " + QByteArray::number(port) + "}";
}

// The daemon's Live side with fast timers, looking for Live through server.json.
struct Daemon
{
    explicit Daemon(const TempHome &home)
        : cache(phone), socket(cache, phone, AbletonSocket::Timing{40ms, 100ms}),
          reconnector(socket, serverportfile::serverConfigPath(), 40ms)
    {
        Q_UNUSED(home);
    }

    QList<ConnectionState::Kind> kinds() const
    {
        QList<ConnectionState::Kind> out;
        for (const QList<QVariant> &args : states)
            out.append(args.at(0).value<ConnectionState>().kind);
        return out;
    }

    RecordingPhone phone;
    DaemonStateCache cache;
    AbletonSocket socket;
    LiveReconnector reconnector;
    QSignalSpy states{&socket, &AbletonSocket::connectionStateChanged};
    QSignalSpy connected{&socket, &AbletonSocket::isConnectedChanged};
    QSignalSpy attempts{&reconnector, &LiveReconnector::connecting};
};

} // namespace

class TestLiveReconnector : public QObject
{
    Q_OBJECT

private slots:
    void portToUse_data()
    {
        QTest::addColumn<QByteArray>("content"); // empty: no file
        QTest::addColumn<int>("port");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("6100") << QByteArray("{\"port\": 6100}") << 6100 << QStringList();
        QTest::newRow("no file") << QByteArray() << 6000 << QStringList();
        QTest::newRow("70000") << QByteArray("{\"port\": 70000}") << 6000 << QStringList();
        QTest::newRow("zero is refused") << QByteArray("{\"port\": 0}") << 6000
                                         << QStringList{"server.json names port 0, which cannot be connected to; using 6000"};
    }
    void portToUse()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, port);
        QFETCH(QStringList, lines);
        TempHome home;
        if (!content.isEmpty())
            home.writeServerJson(content);
        mlog::Capture log;
        QCOMPARE(int(LiveReconnector::portToUse(serverportfile::serverConfigPath())), port);
        QCOMPARE(log.messages(), lines);
    }

    // Nothing listens: waiting, cancelled, disconnected, and again, every time
    // publishing isConnected false. Then Live comes up on that port.
    void cycleWhileNothingListensUntilLiveReturns()
    {
        TempHome home;
        const quint16 port = closedPort();
        QVERIFY(port != 0);
        home.writeServerJson(portJson(port));
        mlog::Capture log;
        Daemon daemon(home);
        daemon.reconnector.start();

        QTRY_VERIFY(daemon.attempts.size() >= 3);
        const QList<ConnectionState::Kind> kinds = daemon.kinds();
        QVERIFY(kinds.size() >= 4);
        for (qsizetype i = 0; i + 1 < kinds.size(); i += 2) {
            QCOMPARE(kinds[i], ConnectionState::Kind::Waiting);
            QCOMPARE(kinds[i + 1], ConnectionState::Kind::Disconnected);
        }
        QVERIFY(daemon.connected.size() >= 2);
        for (const QList<QVariant> &args : daemon.connected)
            QCOMPARE(args.at(0).toBool(), false);
        QVERIFY(log.count("Cancelled connection to Live") >= 2);
        for (const QList<QVariant> &args : daemon.attempts)
            QCOMPARE(args.at(0).value<quint16>(), port);

        ScriptedLiveServer live(port);
        QVERIFY(live.isListening());
        QTRY_VERIFY(live.hasClient());
        live.writeIdentity();
        QTRY_COMPARE(live.received(), QByteArrayLiteral("MARQUELL_CLIENT"));
        QCOMPARE(daemon.kinds().last(), ConnectionState::Kind::Connected);
        QVERIFY(daemon.socket.isConnected());
        QVERIFY(log.contains("Server validated"));
    }

    // The port is read before every connection, so a newly published one is used.
    void readsServerJsonBeforeEveryConnection()
    {
        TempHome home;
        home.writeServerJson(portJson(closedPort()));
        Daemon daemon(home);
        mlog::Capture log;
        daemon.reconnector.start();
        QTRY_VERIFY(daemon.states.size() >= 1);

        ScriptedLiveServer live;
        home.writeServerJson(portJson(live.port()));
        QTRY_VERIFY(live.hasClient());
        QCOMPARE(daemon.attempts.last().at(0).value<quint16>(), live.port());
    }

    void endedConnectionsAreFollowedByReconnection_data()
    {
        QTest::addColumn<QByteArray>("ending"); // written after the handshake (or instead of it)
        QTest::addColumn<bool>("handshakeFirst");
        QTest::addColumn<bool>("close");
        QTest::addColumn<QString>("line");
        QTest::newRow("wrong identity") << frame("NOT_MARQUELL") << false << false << "Invalid server ID";
        QTest::newRow("invalid length") << bytes({0, 0, 0, 0}) << true << false << "Invalid payload length: 0";
        QTest::newRow("close during payload") << bytes({0, 0, 0, 5, 8}) << true << true
                                              << "Connection closed by server (during payload)";
        QTest::newRow("close between frames") << QByteArray() << true << true << "Connection closed by server.";
    }
    // However a connection ends, the daemon comes back and the next server is
    // validated afresh.
    void endedConnectionsAreFollowedByReconnection()
    {
        QFETCH(QByteArray, ending);
        QFETCH(bool, handshakeFirst);
        QFETCH(bool, close);
        QFETCH(QString, line);
        TempHome home;
        ScriptedLiveServer live;
        home.writeServerJson(portJson(live.port()));
        mlog::Capture log;
        Daemon daemon(home);
        daemon.reconnector.start();
        QTRY_VERIFY(live.hasClient());
        if (handshakeFirst) {
            live.writeIdentity();
            QTRY_COMPARE(live.received(), QByteArrayLiteral("MARQUELL_CLIENT"));
            live.takeReceived();
        }
        live.write(ending);
        if (close)
            live.closeClient();
        QTRY_COMPARE(live.acceptedCount(), 2);
        QVERIFY(log.contains(line));
        QCOMPARE(daemon.kinds().count(ConnectionState::Kind::Disconnected), 1);

        live.writeIdentity();
        QTRY_COMPARE(live.received(), QByteArrayLiteral("MARQUELL_CLIENT"));
        QVERIFY(daemon.socket.serverValidated());
    }

    // The cache outlives the connection: a phone that comes later still gets the tempo.
    void cacheSurvivesDisconnection()
    {
        TempHome home;
        ScriptedLiveServer live;
        home.writeServerJson(portJson(live.port()));
        mlog::Capture log;
        Daemon daemon(home);
        daemon.reconnector.start();
        QTRY_VERIFY(live.hasClient());
        live.writeIdentity();
        live.writeFrame(bytes({8, 0, 0, 0x2f, 0x12}));
        QTRY_VERIFY(daemon.cache.currentState().bpm.has_value());
        live.closeClient();
        live.stopListening();
        QTRY_VERIFY(daemon.kinds().count(ConnectionState::Kind::Waiting) >= 1);
        QCOMPARE(daemon.cache.currentState().bpm, std::optional<QByteArray>(bytes({8, 0, 0, 0x2f, 0x12})));
    }
};

QTEST_GUILESS_MAIN(TestLiveReconnector)
#include "tst_livereconnector.moc"
