// SPDX-License-Identifier: MIT
#include "liveclientharness.h"
#include "log.h"
#include "singleinstancelock.h"
#include "songmanager.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QSysInfo>
#include <QtTest>

namespace {

void writeLock(const QString &path, qint64 pid, const QByteArray &app)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray::number(pid) + '\n' + app + '\n' + QSysInfo::machineHostName().toUtf8() +
               '\n');
}

} // namespace

class TestReviewFaults : public QObject
{
    Q_OBJECT

private slots:
    // A type 3 message with a good pool and a cut setlist replaced the pool without
    // telling the views: the pool table kept its old rows while the model changed.
    void poolWithMalformedSetlistReachesTheViews()
    {
        LiveClientHarness h;
        QVERIFY(h.connectAndValidate());
        h.songs.replaceSetlist(QList<Song>{{1, QStringLiteral("Kept"), QStringLiteral("3:00")}});
        QSignalSpy updates(&h.songs, &SongManager::songPoolDidUpdate);

        const QByteArray setlist = bytes({4}) + song(9, "Cut", "2:00");
        QVERIFY(h.deliver(
            {bytes({3}) + song(2, "New", "4:00") + song(3, "Other", "1:00") + setlist.chopped(1)}));

        QCOMPARE(h.songs.songPoolData().size(), 2);
        QCOMPARE(h.songs.setListData().size(), 1);
        QCOMPARE(h.songs.setListData().first().name, QStringLiteral("Kept"));
        QCOMPARE(updates.count(), 1);
    }

    // After a crash the lock file stays; a reused process id made the daemon look
    // alive for ever, so the application never started it again.
    void lockHolderMustBeTheDaemon_data()
    {
        QTest::addColumn<QString>("holder");
        QTest::addColumn<QByteArray>("recordedApp");
        QTest::addColumn<bool>("held");
        QTest::newRow("reused id, other program")
            << "self" << QByteArray("MarquellDaemon") << false;
        QTest::newRow("reused id, init") << "init" << QByteArray("MarquellDaemon") << false;
        QTest::newRow("the program that took it") << "self" << QByteArray() << true;
    }
    void lockHolderMustBeTheDaemon()
    {
        QFETCH(QString, holder);
        QFETCH(QByteArray, recordedApp);
        QFETCH(bool, held);
        if (holder == QLatin1String("init") && !QFileInfo::exists(QStringLiteral("/proc/1/comm")))
            QSKIP("no /proc/1/comm to read");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("daemon.lock"));
        const qint64 pid = holder == QLatin1String("init") ? 1 : QCoreApplication::applicationPid();
        writeLock(path, pid,
                  recordedApp.isEmpty() ? QCoreApplication::applicationName().toUtf8()
                                        : recordedApp);
        QCOMPARE(SingleInstanceLock::isHeld(path), held);
        if (!held) {
            SingleInstanceLock next(path);
            QVERIFY(next.tryAcquire());
        }
    }
};

QTEST_GUILESS_MAIN(TestReviewFaults)
#include "tst_reviewfaults.moc"
