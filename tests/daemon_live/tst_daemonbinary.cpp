// SPDX-License-Identifier: MIT
// Runs the real MarquellDaemon in a temporary home.
#include "livebytes.h"
#include "scriptedliveserver.h"
#include "singleinstancelock.h"
#include "temphome.h"

#include <QProcess>
#include <QtTest>

#include <csignal>
#include <cstdio>

// Its warnings show in the test's log; QProcess kills a copy still running at the end.
static void startDaemon(QProcess &daemon, const QString &program)
{
    daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    daemon.start(program);
}

class TestDaemonBinary : public QObject
{
    Q_OBJECT

private slots:
    // The port comes from server.json; the daemon validates the server and comes back
    // by itself after the server drops it. A second copy exits at once without looking
    // for Live, saying so on standard error, also when an upgrade has replaced the
    // executable the first runs from, and a termination signal quits the first cleanly,
    // releasing the lock.
    void runsOnceFindsLiveAndQuitsOnSignal_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("upgraded");
        QTest::newRow("SIGTERM") << int(SIGTERM) << false;
        QTest::newRow("SIGINT") << int(SIGINT) << false;
        QTest::newRow("SIGTERM, upgraded while running") << int(SIGTERM) << true;
    }
    void runsOnceFindsLiveAndQuitsOnSignal()
    {
        QFETCH(int, signal);
        QFETCH(bool, upgraded);
        TempHome home;
        ScriptedLiveServer live;
        home.writeServerJson(livebytes::portJson(live.port()));
        // A copy of its own, so that it can be replaced as a package upgrade does.
        QTemporaryDir bin;
        const QString program = upgraded ? bin.filePath(QStringLiteral("MarquellDaemon"))
                                         : QStringLiteral(MARQUELL_DAEMON_BINARY);
        QVERIFY(!upgraded || QFile::copy(QStringLiteral(MARQUELL_DAEMON_BINARY), program));
        QProcess first;
        startDaemon(first, program);
        for (int connection = 1; connection <= 2; ++connection) {
            // Looking for Live means it holds the lock. (Probing the lock while the
            // daemon starts could make it see the probe as another copy.)
            QTRY_COMPARE_WITH_TIMEOUT(live.acceptedCount(), connection, 10000);
            if (connection == 1) {
                // The new file renamed over the old: the running one's is deleted.
                QVERIFY(!upgraded || (QFile::copy(QStringLiteral(MARQUELL_DAEMON_BINARY),
                                                  program + QStringLiteral(".new")) &&
                                      ::rename(qPrintable(program + QStringLiteral(".new")),
                                               qPrintable(program)) == 0));
                QVERIFY(SingleInstanceLock::isHeld(SingleInstanceLock::daemonLockPath()));
                QProcess second;
                second.start(program); // its standard error is read below
                QVERIFY(second.waitForFinished(10000));
                QCOMPARE(second.exitCode(), 0);
                QCOMPARE(second.readAllStandardOutput(), QByteArray());
                QCOMPARE(second.readAllStandardError(),
                         QByteArray("MarquellDaemon is already running\n"));
            }
            live.writeIdentity();
            QTRY_COMPARE(live.received(), livebytes::daemonReply());
            live.closeClients();
        }
        ::kill(pid_t(first.processId()), signal);
        QVERIFY(first.waitForFinished(10000));
        QCOMPARE(first.exitStatus(), QProcess::NormalExit);
        QCOMPARE(first.exitCode(), 0);
        QVERIFY(!SingleInstanceLock::isHeld(SingleInstanceLock::daemonLockPath()));
    }

    // Both answer anywhere, even where there is no display to connect to.
    void standardOptionsNeedNoDisplay()
    {
        TempHome home;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(QString::fromLatin1(name));
        for (const char *option : {"--help", "--version"}) {
            QProcess run;
            run.setProcessEnvironment(env);
            run.start(QStringLiteral(MARQUELL_APP_BINARY), {QString::fromLatin1(option)});
            QVERIFY(run.waitForFinished(10000) && run.exitStatus() == QProcess::NormalExit);
            QCOMPARE(run.exitCode(), 0);
            const QByteArray out = run.readAllStandardOutput();
            QVERIFY2(out.startsWith(option[2] == 'h' ? "Usage: " : "Marquell 1."), out.data());
        }
    }
};

QTEST_GUILESS_MAIN(TestDaemonBinary)
#include "tst_daemonbinary.moc"
