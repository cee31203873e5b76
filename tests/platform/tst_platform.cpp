// SPDX-License-Identifier: MIT
#include "log.h"
#include "midiportid.h"
#include "singleinstancelock.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <filesystem>

class TestPlatform final : public QObject
{
    Q_OBJECT

private slots:
    // Asking must never take the lock, even for a moment: a daemon starting meanwhile
    // would take the asker for another copy and exit.
    void lockHeldWhileTheHolderLives()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("folder/that/does/not/exist/daemon.lock");
        QVERIFY(!SingleInstanceLock::isHeld(path));
        QVERIFY(!QFile::exists(path));
        // A lock file made and removed again would still change its folder.
        const auto folderWritten = [&] {
            return std::filesystem::last_write_time(dir.path().toStdString());
        };
        const auto before = folderWritten();
        QVERIFY(!SingleInstanceLock::isHeld(dir.filePath("free.lock")));
        QVERIFY(folderWritten() == before);
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
    void staleOrGarbageLockIsNotHeld_data()
    {
        QTest::addColumn<bool>("garbage");
        QTest::newRow("dead process") << false;
        QTest::newRow("garbage") << true;
    }
    void staleOrGarbageLockIsNotHeld()
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
        QVERIFY(next.tryAcquire() && SingleInstanceLock::isHeld(path));
    }

    void midiIdsFollowNamesNotPositions_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<bool>("alsa");
        QTest::addColumn<QStringList>("keys"); // the name each ID must be derived from
        QTest::newRow("jack ports") << QStringList{"system:midi_capture_1", "Pad 20:0"} << false
                                    << QStringList{"system:midi_capture_1", "Pad 20:0"};
        // ALSA renumbers a replugged device; the numbers must not change its ID.
        QTest::newRow("alsa numbers dropped")
            << QStringList{"Pedal:Pedal MIDI 1 20:0", "Pedal:Pedal MIDI 1 24:0"} << true
            << QStringList{"Pedal:Pedal MIDI 1", "Pedal:Pedal MIDI 1#2"};
        // Two identical controllers must stay apart.
        QTest::newRow("duplicates") << QStringList{"Twin", "Other", "Twin", "Twin"} << false
                                    << QStringList{"Twin", "Other", "Twin#2", "Twin#3"};
    }
    void midiIdsFollowNamesNotPositions()
    {
        QFETCH(QStringList, names);
        QFETCH(bool, alsa);
        QFETCH(QStringList, keys);
        const QList<MidiSourceInfo> sources = midiportid::identify(names, alsa);
        QCOMPARE(sources.size(), names.size());
        QSet<qint32> distinct;
        for (int i = 0; i < sources.size(); ++i) {
            QCOMPARE(sources[i].index, i);
            QCOMPARE(sources[i].uniqueID, midiportid::forName(keys[i]));
            distinct.insert(sources[i].uniqueID);
        }
        QCOMPARE(distinct.size(), sources.size());
    }

    // 0 reads as a failed lookup and -1 as "none": names whose plain 32-bit FNV-1a is
    // exactly 0 and 0xFFFFFFFF (found offline) must get another, stable ID.
    void midiReservedIdsNeverGiven()
    {
        for (const QString &name :
             {QStringLiteral("port76935729:"), QStringLiteral("port43110192X")}) {
            const qint32 id = midiportid::forName(name);
            QVERIFY2(id != 0 && id != -1, qPrintable(name));
            QCOMPARE(midiportid::forName(name), id);
        }
    }

    // The text and its newline went out as two writes: lines from the probe's pool
    // thread and the main thread mixed mid-line.
    void concurrentLogLinesStayWhole_data()
    {
        QTest::addColumn<int>("threads");
        QTest::addColumn<int>("lines");
        QTest::newRow("two writers") << 2 << 20000;
        QTest::newRow("eight writers") << 8 << 5000;
    }
    void concurrentLogLinesStayWhole()
    {
        QFETCH(int, threads);
        QFETCH(int, lines);
        QProcess flood;
        flood.start(QStringLiteral(MARQUELL_LOGFLOOD),
                    {QString::number(threads), QString::number(lines)});
        QVERIFY(flood.waitForFinished(60000));
        QCOMPARE(flood.exitCode(), 0);
        const QList<QByteArray> out = flood.readAllStandardOutput().split('\n');
        QCOMPARE(out.size(), threads * lines + 1); // the last newline leaves an empty tail
        static const QRegularExpression whole(QStringLiteral("^writer \\d+ line \\d+ end$"));
        QStringList broken;
        for (const QByteArray &line : out.first(out.size() - 1))
            if (!whole.match(QString::fromUtf8(line)).hasMatch() && broken.size() < 3)
                broken << QString::fromUtf8(line);
        QCOMPARE(broken, QStringList());
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
