// SPDX-License-Identifier: MIT
#include "singleinstancelock.h"

#include <QFile>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QtTest>

class TestSingleInstanceLock : public QObject
{
    Q_OBJECT

private slots:
    // Asking must never take the lock, even for a moment: a daemon starting meanwhile
    // would take the asker for another copy and exit.
    void heldWhileTheHolderLives()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("folder/that/does/not/exist/daemon.lock");
        QVERIFY(!SingleInstanceLock::isHeld(path));
        QVERIFY(!QFile::exists(path));
        {
            SingleInstanceLock holder(path);
            QVERIFY(holder.tryAcquire());
            for (int i = 0; i < 20; ++i)
                QVERIFY(SingleInstanceLock::isHeld(path));
            QVERIFY(!SingleInstanceLock(path).tryAcquire());
        }
        QVERIFY(!SingleInstanceLock::isHeld(path));
    }

    // A crashed daemon leaves its file behind: not running, and the next one starts.
    // An unreadable file is not a running daemon either.
    void staleOrGarbageFileIsNotHeld_data()
    {
        QTest::addColumn<bool>("garbage");
        QTest::newRow("dead process") << false;
        QTest::newRow("garbage") << true;
    }
    void staleOrGarbageFileIsNotHeld()
    {
        QFETCH(bool, garbage);
        QTemporaryDir dir;
        const QString path = dir.filePath("daemon.lock");
        QProcess gone;
        gone.start(QStringLiteral("true"));
        QVERIFY(gone.waitForFinished());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(garbage
                       ? QByteArray("not a lock file")
                       : QByteArray::number(gone.processId() ? gone.processId() : 999999) +
                             "\nMarquellDaemon\n" + QSysInfo::machineHostName().toUtf8() + "\n");
        file.close();
        QVERIFY(!SingleInstanceLock::isHeld(path));
        if (garbage)
            return;
        SingleInstanceLock next(path);
        QVERIFY(next.tryAcquire());
        QVERIFY(SingleInstanceLock::isHeld(path));
    }
};

QTEST_GUILESS_MAIN(TestSingleInstanceLock)
#include "tst_singleinstancelock.moc"
