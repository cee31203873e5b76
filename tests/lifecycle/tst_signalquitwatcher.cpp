// SPDX-License-Identifier: MIT
#include "signalquitwatcher.h"

#include <QSignalSpy>
#include <QtTest>

#include <csignal>

class TestSignalQuitWatcher : public QObject
{
    Q_OBJECT

private slots:
    void terminationBecomesOneQuitRequest_data()
    {
        QTest::addColumn<QList<int>>("raised");
        QTest::addColumn<int>("reported");
        QTest::newRow("SIGTERM") << QList<int>{SIGTERM} << int(SIGTERM);
        QTest::newRow("SIGINT") << QList<int>{SIGINT} << int(SIGINT);
        // Ctrl-C pressed twice before the loop ran: one request, not two stacked alerts.
        QTest::newRow("burst") << QList<int>{SIGINT, SIGINT, SIGTERM} << int(SIGTERM);
    }
    void terminationBecomesOneQuitRequest()
    {
        QFETCH(QList<int>, raised);
        QFETCH(int, reported);
        SignalQuitWatcher watcher;
        QSignalSpy spy(&watcher, &SignalQuitWatcher::quitRequested);
        for (int sig : raised)
            QCOMPARE(std::raise(sig), 0); // the process survives: the handler only writes
        QTRY_COMPARE(spy.size(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), reported);
        QTest::qWait(50); // a late second emission would show here
        QCOMPARE(spy.size(), 1);
    }

    // One watcher owns the signals, and releases them with its life.
    void onlyOneWatcherOwnsTheSignals()
    {
        {
            SignalQuitWatcher first;
            SignalQuitWatcher second;
            QVERIFY(first.isActive() && !second.isActive());
        }
        SignalQuitWatcher later;
        QSignalSpy spy(&later, &SignalQuitWatcher::quitRequested);
        QCOMPARE(std::raise(SIGTERM), 0);
        QTRY_COMPARE(spy.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestSignalQuitWatcher)
#include "tst_signalquitwatcher.moc"
