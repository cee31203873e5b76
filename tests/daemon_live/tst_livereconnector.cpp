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
    // Any other port comes straight from server.json (tested with the reader);
    // port 0 cannot be connected to.
    void portZeroIsRefused()
    {
        TempHome home;
        home.writeServerJson("{\"port\": 0}");
        mlog::Capture log;
        QCOMPARE(int(LiveReconnector::portToUse(serverportfile::serverConfigPath())), 6000);
        QCOMPARE(log.messages(),
                 QStringList{"server.json names port 0, which cannot be connected to; using 6000"});
    }

    // Nothing listens: waiting, cancelled, disconnected, and again, every time
    // publishing isConnected false. Then Live comes up on a newly published port:
    // server.json is read before every connection.
    void cycleWhileNothingListensUntilLiveReturns()
    {
        TempHome home;
        const quint16 port = ScriptedLiveServer::closedPort();
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

        ScriptedLiveServer live;
        home.writeServerJson(portJson(live.port()));
        QTRY_VERIFY(live.hasClient());
        QCOMPARE(daemon.attempts.last().at(0).value<quint16>(), live.port());
        live.writeIdentity();
        QTRY_COMPARE(live.received(), QByteArrayLiteral("MARQUELL_CLIENT"));
        QCOMPARE(daemon.kinds().last(), ConnectionState::Kind::Connected);
        QVERIFY(daemon.socket.isConnected());
        QVERIFY(log.contains("Server validated"));
    }

    void endedConnectionsAreFollowedByReconnection_data()
    {
        QTest::addColumn<QByteArray>("ending"); // written after the handshake
        QTest::addColumn<bool>("close");
        QTest::addColumn<QString>("line");
        // Cancelled by the daemon, which leaves its validation flag to the next connection.
        QTest::newRow("invalid length")
            << bytes({0, 0, 0, 0}) << false << "Invalid payload length: 0";
        QTest::newRow("closed by the server")
            << QByteArray() << true << "Connection closed by server.";
    }
    // However a connection ends, the daemon comes back and the next server is
    // validated afresh.
    void endedConnectionsAreFollowedByReconnection()
    {
        QFETCH(QByteArray, ending);
        QFETCH(bool, close);
        QFETCH(QString, line);
        TempHome home;
        ScriptedLiveServer live;
        home.writeServerJson(portJson(live.port()));
        mlog::Capture log;
        Daemon daemon(home);
        daemon.reconnector.start();
        QTRY_VERIFY(live.hasClient());
        live.writeIdentity();
        QTRY_COMPARE(live.received(), QByteArrayLiteral("MARQUELL_CLIENT"));
        live.write(ending);
        if (close)
            live.closeClients();
        QTRY_COMPARE(live.acceptedCount(), 2);
        QVERIFY(log.contains(line));
        QCOMPARE(daemon.kinds().count(ConnectionState::Kind::Disconnected), 1);

        live.writeIdentity();
        QTRY_COMPARE(live.received(), QByteArrayLiteral("MARQUELL_CLIENT"));
        QVERIFY(daemon.socket.serverValidated());
    }
};

QTEST_GUILESS_MAIN(TestLiveReconnector)
#include "tst_livereconnector.moc"
