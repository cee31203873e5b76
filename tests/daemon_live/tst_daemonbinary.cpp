// SPDX-License-Identifier: MIT
// Runs the real MarquellDaemon in a temporary home.
#include "livebytes.h"
#include "scriptedliveserver.h"
#include "singleinstancelock.h"
#include "temphome.h"

#include <QProcess>
#include <QtTest>

#include <csignal>

using livebytes::portJson;

namespace {

// Started with the temporary home in its environment; stopped by its own id.
struct Daemon
{
    Daemon()
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel); // warnings show in the log
        process.start(QStringLiteral(MARQUELL_DAEMON_BINARY));
    }
    ~Daemon()
    {
        process.kill();
        process.waitForFinished(5000);
    }
    // Standard output so far contains the line.
    bool printed(const QByteArray &line)
    {
        output += process.readAllStandardOutput();
        return output.contains(line + '\n');
    }
    bool quitsOn(int signal)
    {
        ::kill(pid_t(process.processId()), signal);
        return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
               process.exitCode() == 0;
    }
    QProcess process;
    QByteArray output;
};

} // namespace

class TestDaemonBinary : public QObject
{
    Q_OBJECT

private slots:
    // A second copy exits at once without looking for Live; the first keeps looking,
    // and quits cleanly on a termination signal, releasing the lock.
    void secondCopyExitsAndSignalsQuit_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void secondCopyExitsAndSignalsQuit()
    {
        QFETCH(int, signal);
        TempHome home;
        home.writeServerJson(portJson(ScriptedLiveServer::closedPort()));
        Daemon first;
        // Running its Live cycle means it holds the lock. (Probing the lock while the
        // daemon starts could make it see the probe as another copy.)
        QTRY_VERIFY(first.printed("Cancelled connection to Live"));
        QVERIFY(SingleInstanceLock::isHeld(SingleInstanceLock::daemonLockPath()));
        Daemon second;
        QVERIFY(second.process.waitForFinished(10000));
        QCOMPARE(second.process.exitCode(), 0);
        QCOMPARE(second.process.readAllStandardOutput(), QByteArray());
        first.output.clear();
        QTRY_VERIFY(first.printed("Cancelled connection to Live"));
        QVERIFY(first.quitsOn(signal));
        QVERIFY(!SingleInstanceLock::isHeld(SingleInstanceLock::daemonLockPath()));
    }

    // The port comes from server.json; the daemon validates the server, and comes
    // back by itself after the server drops it.
    void validatesAndComesBack()
    {
        TempHome home;
        ScriptedLiveServer live;
        home.writeServerJson(portJson(live.port()));
        Daemon daemon;
        for (int connection = 1; connection <= 2; ++connection) {
            QTRY_COMPARE_WITH_TIMEOUT(live.acceptedCount(), connection, 10000);
            live.writeIdentity();
            QTRY_COMPARE(live.received(), QByteArrayLiteral("MARQUELL_CLIENT"));
            live.closeClients();
        }
        QVERIFY(daemon.quitsOn(SIGTERM));
    }
};

QTEST_GUILESS_MAIN(TestDaemonBinary)
#include "tst_daemonbinary.moc"
