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
    void heldWhileTheHolderLives()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("folder/that/does/not/exist/daemon.lock");
        QVERIFY(!SingleInstanceLock::isHeld(path));
        {
            SingleInstanceLock holder(path);
            QVERIFY(holder.tryAcquire());
            QVERIFY(SingleInstanceLock::isHeld(path));
            SingleInstanceLock second(path);
            QVERIFY(!second.tryAcquire());
        }
        QVERIFY(!SingleInstanceLock::isHeld(path));
    }

    // Asking must not take the lock, even for a moment: a daemon starting meanwhile
    // would take the asker for another copy and exit.
    void askingNeverTakesTheLock()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("daemon.lock");
        QVERIFY(!SingleInstanceLock::isHeld(path));
        QVERIFY(!QFile::exists(path));
        SingleInstanceLock holder(path);
        QVERIFY(holder.tryAcquire());
        for (int i = 0; i < 100; ++i)
            QVERIFY(SingleInstanceLock::isHeld(path));
    }

    // A daemon that crashed leaves its file behind: not running, and the next one starts.
    void lockOfADeadProcessIsNotHeld()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("daemon.lock");
        QProcess gone;
        gone.start(QStringLiteral("true"));
        QVERIFY(gone.waitForFinished());
        const qint64 deadPid = gone.processId() ? gone.processId() : 999999;
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray::number(deadPid) + "\nMarquellDaemon\n" +
                   QSysInfo::machineHostName().toUtf8() + "\n");
        file.close();

        QVERIFY(!SingleInstanceLock::isHeld(path));
        SingleInstanceLock next(path);
        QVERIFY(next.tryAcquire());
        QVERIFY(SingleInstanceLock::isHeld(path));
    }

    void garbageFileIsNotHeld()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("daemon.lock");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a lock file");
        file.close();
        QVERIFY(!SingleInstanceLock::isHeld(path));
    }
};

QTEST_GUILESS_MAIN(TestSingleInstanceLock)
#include "tst_singleinstancelock.moc"
