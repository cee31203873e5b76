// SPDX-License-Identifier: MIT
#include "daemonlivefixture.h"
#include "livereconnector.h"
#include "serverportfile.h"
#include "temphome.h"

class TestLiveReconnector : public QObject
{
    Q_OBJECT

private slots:
    // Any other port comes straight from server.json; port 0 cannot be connected to.
    void portZeroIsRefused()
    {
        TempHome home;
        home.writeServerJson("{\"port\": 0}");
        QCOMPARE(int(LiveReconnector::portToUse(serverportfile::serverConfigPath())), 6000);
    }

    // Nothing listens: waiting, then cancelled, every time, each publishing isConnected
    // false. Then Live comes up on a newly published port: server.json is read before
    // every attempt.
    void cycleWhileNothingListensUntilLiveReturns()
    {
        TempHome home;
        const quint16 port = ScriptedLiveServer::closedPort();
        home.writeServerJson(portJson(port));
        Rig rig;
        LiveReconnector reconnector(rig.socket, serverportfile::serverConfigPath(), 40ms);
        QSignalSpy attempts(&reconnector, &LiveReconnector::connecting);
        reconnector.start();
        QTRY_VERIFY(attempts.size() >= 3);
        const QList<ConnectionState> states = rig.allStates();
        for (qsizetype i = 0; i + 1 < states.size(); i += 2)
            QCOMPARE(QList({states[i], states[i + 1]}),
                     QList({ConnectionState::waiting(), ConnectionState::disconnected()}));
        QVERIFY(rig.connected.size() >= 2);
        for (const QList<QVariant> &args : rig.connected)
            QCOMPARE(args.at(0).toBool(), false);
        QCOMPARE(attempts.first().at(0).value<quint16>(), port);

        home.writeServerJson(portJson(rig.server.port()));
        QTRY_VERIFY(rig.server.hasClient());
        rig.server.writeIdentity();
        QTRY_COMPARE(rig.server.received(), kClientReply);
        QCOMPARE(rig.lastState(), ConnectionState::connected());
    }

    // However a connection ends, the daemon comes back and the next server is
    // validated afresh.
    void endedConnectionsAreFollowedByReconnection_data()
    {
        QTest::addColumn<QByteArray>("ending"); // written after the handshake; empty: close
        QTest::newRow("invalid length") << bytes({0, 0, 0, 0});
        QTest::newRow("closed by the server") << QByteArray();
    }
    void endedConnectionsAreFollowedByReconnection()
    {
        QFETCH(QByteArray, ending);
        TempHome home;
        Rig rig;
        home.writeServerJson(portJson(rig.server.port()));
        LiveReconnector reconnector(rig.socket, serverportfile::serverConfigPath(), 40ms);
        reconnector.start();
        QTRY_VERIFY(rig.server.hasClient());
        rig.server.writeIdentity();
        QTRY_COMPARE(rig.server.received(), kClientReply);
        rig.server.write(ending);
        if (ending.isEmpty())
            rig.server.closeClients();
        QTRY_COMPARE(rig.server.acceptedCount(), 2);
        QCOMPARE(rig.allStates().count(ConnectionState::disconnected()), 1);
        rig.server.writeIdentity();
        QTRY_COMPARE(rig.server.received(), kClientReply);
        QVERIFY(rig.socket.serverValidated());
    }
};

QTEST_GUILESS_MAIN(TestLiveReconnector)
#include "tst_livereconnector.moc"
