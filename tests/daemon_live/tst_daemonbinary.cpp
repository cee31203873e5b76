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
        process.setProgram(QStringLiteral(MARQUELL_DAEMON_BINARY));
        process.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel); // warnings show in the log
    }
    ~Daemon()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    // Running its Live cycle means it holds the lock. (Probing the lock while the
    // daemon starts could make it see the probe as another copy.)
    bool startAndWaitForLiveCycle()
    {
        process.start();
        return process.waitForStarted() &&
               QTest::qWaitFor([this] { return printed("Cancelled connection to Live"); });
    }
    bool terminate()
    {
        ::kill(pid_t(process.processId()), SIGTERM);
        return process.waitForFinished(10000);
    }
    // Standard output so far contains the line.
    bool printed(const QByteArray &line)
    {
        output += process.readAllStandardOutput();
        return output.contains(line + '\n');
    }
    QProcess process;
    QByteArray output;
};

} // namespace

class TestDaemonBinary : public QObject
{
    Q_OBJECT

private slots:
    void secondCopyExitsAndSigtermQuits()
    {
        TempHome home;
        home.writeServerJson(portJson(ScriptedLiveServer::closedPort()));
        Daemon first;
        QVERIFY(first.startAndWaitForLiveCycle());
        QVERIFY(SingleInstanceLock::isHeld(SingleInstanceLock::daemonLockPath()));

        Daemon second;
        second.process.start();
        QVERIFY(second.process.waitForFinished(10000));
        QCOMPARE(second.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.process.exitCode(), 0);
        QCOMPARE(second.process.readAllStandardOutput(), QByteArray()); // never looked for Live
        QCOMPARE(first.process.state(), QProcess::Running);

        // The first copy keeps looking for Live meanwhile.
        first.output.clear();
        QTRY_VERIFY(first.printed("Cancelled connection to Live"));

        QVERIFY(first.terminate());
        QCOMPARE(first.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(first.process.exitCode(), 0);
        QVERIFY(!SingleInstanceLock::isHeld(SingleInstanceLock::daemonLockPath()));
    }

    void sigintQuits()
    {
        TempHome home;
        home.writeServerJson(portJson(ScriptedLiveServer::closedPort()));
        Daemon daemon;
        QVERIFY(daemon.startAndWaitForLiveCycle());
        ::kill(pid_t(daemon.process.processId()), SIGINT);
        QVERIFY(daemon.process.waitForFinished(10000));
        QCOMPARE(daemon.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(daemon.process.exitCode(), 0);
    }

    // The port comes from server.json; the daemon validates the server, and comes
    // back by itself after the server drops it.
    void validatesAndComesBack()
    {
        TempHome home;
        ScriptedLiveServer live;
        home.writeServerJson(portJson(live.port()));
        Daemon daemon;
        daemon.process.start();
        QVERIFY(daemon.process.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(live.hasClient(), 10000);
        live.writeIdentity();
        QTRY_COMPARE(live.received(), QByteArrayLiteral("MARQUELL_CLIENT"));
        QTRY_VERIFY(daemon.printed("Server validated"));

        live.closeClients();
        QTRY_COMPARE_WITH_TIMEOUT(live.acceptedCount(), 2, 10000);
        live.writeIdentity();
        QTRY_COMPARE(live.received(), QByteArrayLiteral("MARQUELL_CLIENT"));
        QVERIFY(daemon.terminate());
        QCOMPARE(daemon.process.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestDaemonBinary)
#include "tst_daemonbinary.moc"
