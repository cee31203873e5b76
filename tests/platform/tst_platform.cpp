// SPDX-License-Identifier: MIT
#include "log.h"
#include "midiportid.h"
#include "singleinstancelock.h"

#include <QtTest>

#include <cstdio>
#include <filesystem>
#include <thread>
#include <unistd.h>
#include <vector>

class TestPlatform final : public QObject
{
    Q_OBJECT

private slots:
    // Asking never takes the lock, even for a moment (a daemon starting then would exit);
    // a crashed daemon's or an unreadable file holds nothing: the next one starts.
    void lockHeldOnlyByALiveHolder_data()
    {
        QTest::addColumn<QString>("name");    // the lock file's, in a fresh folder
        QTest::addColumn<QByteArray>("left"); // found there; empty: none
        QTest::newRow("free, no folder") << "run/daemon.lock" << QByteArray();
        QTest::newRow("free") << "daemon.lock" << QByteArray();
        QTest::newRow("dead process")
            << "daemon.lock" << QByteArray("<pid>\nMarquellDaemon\n<host>\n");
        QTest::newRow("garbage") << "daemon.lock" << QByteArray("not a lock file");
    }
    void lockHeldOnlyByALiveHolder()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, left);
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        QProcess gone;
        gone.start(QStringLiteral("true"));
        const qint64 pid = gone.processId();
        QVERIFY(gone.waitForFinished() && pid > 0);
        if (!left.isEmpty()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(left.replace("<pid>", QByteArray::number(pid))
                           .replace("<host>", QSysInfo::machineHostName().toUtf8()));
        }
        // A lock file made and removed again would still change its folder.
        const auto before = std::filesystem::last_write_time(dir.path().toStdString());
        QVERIFY(!SingleInstanceLock::isHeld(path));
        QCOMPARE(QFile::exists(path), !left.isEmpty());
        QVERIFY(std::filesystem::last_write_time(dir.path().toStdString()) == before);
        {
            SingleInstanceLock holder(path);
            QVERIFY(holder.tryAcquire());
            for (int i = 0; i < 20; ++i)
                QVERIFY(SingleInstanceLock::isHeld(path));
            QVERIFY(!SingleInstanceLock(path).tryAcquire());
        }
        QVERIFY(!SingleInstanceLock::isHeld(path));
    }

    // IDs follow names, never positions; none is 0 (a failed lookup) or -1 ("none").
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
        // Their plain 32-bit FNV-1a is exactly 0 and 0xFFFFFFFF (found offline).
        const QStringList reserved{"port76935729:", "port43110192X"};
        QTest::newRow("reserved hashes") << reserved << false << reserved;
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
            QVERIFY2(sources[i].uniqueID != 0 && sources[i].uniqueID != -1, qPrintable(keys[i]));
            distinct.insert(sources[i].uniqueID);
        }
        QCOMPARE(distinct.size(), sources.size());
    }

    // The text and its newline went out as two writes: lines from the probe's pool
    // thread and the main thread mixed mid-line.
    void concurrentLogLinesStayWhole()
    {
        constexpr int threads = 8, lines = 5000;
        QTemporaryFile file;
        QVERIFY(file.open());
        std::fflush(stdout);
        const int console = ::dup(STDOUT_FILENO);
        QVERIFY(::dup2(file.handle(), STDOUT_FILENO) == STDOUT_FILENO);
        std::vector<std::thread> writers;
        for (int t = 0; t < threads; ++t)
            writers.emplace_back([t] {
                for (int i = 0; i < lines; ++i)
                    mlog::out(QStringLiteral("writer %1 line %2 end").arg(t).arg(i));
            });
        for (std::thread &writer : writers)
            writer.join();
        ::dup2(console, STDOUT_FILENO);
        ::close(console);
        QVERIFY(file.seek(0));
        QStringList out = QString::fromUtf8(file.readAll()).split('\n');
        QCOMPARE(out.takeLast(), QString()); // every line ends, the last one too
        QCOMPARE(out.size(), threads * lines);
        // Lines that are not whole; the first few are enough to see what went wrong.
        static const QRegularExpression broken(QStringLiteral("^(?!writer \\d+ line \\d+ end$)"));
        QCOMPARE(out.filter(broken).mid(0, 3), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
