// SPDX-License-Identifier: MIT
#include "log.h"
#include "recordingsender.h"
#include "songlists.h"
#include "songmanager.h"

#include <QSignalSpy>
#include <QtTest>

using songlists::names;
using songlists::song;

class TestSongManager : public QObject
{
    Q_OBJECT

private slots:
    void parseSongLength_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("seconds"); // -1: no value
        QTest::newRow("m:ss") << "3:45" << 225.0;
        QTest::newRow("h:mm:ss") << "1:02:03" << 3723.0;
        QTest::newRow("no colon") << "225" << -1.0;
        QTest::newRow("four pieces") << "1:2:3:4" << -1.0;
        QTest::newRow("leading colon is one piece") << ":30" << -1.0;
        QTest::newRow("empty pieces dropped") << "3::45" << 225.0;
        QTest::newRow("non-numeric piece counts 0") << "ab:30" << 30.0;
        QTest::newRow("spaces are not numbers") << " 3:45" << 45.0;
        QTest::newRow("signed piece") << "+1:05" << 65.0;
        QTest::newRow("overflowing piece counts 0") << "99999999999999999999:10" << 10.0;
        QTest::newRow("empty") << "" << -1.0;
    }
    void parseSongLength()
    {
        QFETCH(QString, text);
        QFETCH(double, seconds);
        QCOMPARE(SongManager::parseSongLength(text).value_or(-1.0), seconds);
    }

    void remainingTime()
    {
        RecordingSender sender;
        SongManager model(sender);
        model.replaceSetlist(QList<Song>{song(1, "A"), song(2, "B"), song(3, "C")});
        QCOMPARE(model.setLength(), 540.0);
        model.setSelectedSetlistIndex(1);
        QCOMPARE(model.remainingSetTimeString(), QStringLiteral("00:06:00"));
        model.setSelectedSetlistIndex(-1);
        QCOMPARE(model.remainingSetTimeString(), QStringLiteral("00:09:00"));
        model.setSelectedSetlistIndex(3); // past the end: the whole set
        QCOMPARE(model.remainingSetTimeString(), QStringLiteral("00:09:00"));
    }
    void setTimeFormatting()
    {
        QCOMPARE(SongManager::formatSetTime(3723.9), QStringLiteral("01:02:03"));
        QCOMPARE(SongManager::formatSetTime(0), QStringLiteral("00:00:00"));
        QCOMPARE(SongManager::formatSetTime(-30), QStringLiteral("00:00:00"));
        QCOMPARE(SongManager::formatSetTime(1e30), QStringLiteral("99:59:59"));
        QCOMPARE(SongManager::formatSetTime(std::nan("")), QStringLiteral("00:00:00"));
    }

    void replaceSongPoolSortsAndResetsFilter()
    {
        RecordingSender sender;
        SongManager model(sender);
        model.setFilteredPoolData({song(9, "stale")});
        mlog::Capture log;
        model.replaceSongPool({song(1, "b"), song(2, "A"), song(3, "c")});
        QCOMPARE(names(model.songPoolData()), QStringList({"A", "b", "c"}));
        QCOMPARE(model.filteredPoolData(), model.songPoolData());
        QVERIFY(log.contains("Refreshing song pool with 3 songs."));
        QVERIFY(sender.messages.isEmpty());
    }
    void replaceSetlistNotifiesEvenWhenEmptied()
    {
        RecordingSender sender;
        SongManager model(sender);
        QSignalSpy updated(&model, &SongManager::songPoolDidUpdate);
        model.replaceSetlist(QList<Song>{song(1, "A", "2:00"), song(2, "B", "bogus")});
        QCOMPARE(model.setLength(), 120.0);
        QCOMPARE(updated.count(), 1);
        model.replaceSetlist(std::nullopt);
        QVERIFY(model.setListData().isEmpty());
        QCOMPARE(model.setLength(), 0.0);
        QCOMPARE(updated.count(), 2);
        QVERIFY(sender.messages.isEmpty()); // what Live sent is not echoed
    }

    void addingTheFirstSongAlsoSelectsIt()
    {
        RecordingSender sender;
        SongManager model(sender);
        model.addToSetlist(song(1, "A"));
        QCOMPARE(sender.types(), QList<int>({4, 3}));
        QCOMPARE(sender.messages[1], QByteArray::fromHex("0300"));
        sender.clear();
        model.addToSetlist(song(2, "B"));
        QCOMPARE(sender.types(), QList<int>({4}));
        QCOMPARE(names(sender.setlists.last()), QStringList({"A", "B"}));
        QCOMPARE(model.setLength(), 360.0);
    }
    void addAtIndex_data()
    {
        QTest::addColumn<int>("index"); // -1: none
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("none appends") << -1 << QStringList({"A", "B", "C", "N"});
        QTest::newRow("past the end appends") << 7 << QStringList({"A", "B", "C", "N"});
        QTest::newRow("at count is last") << 3 << QStringList({"A", "B", "C", "N"});
        QTest::newRow("front") << 0 << QStringList({"N", "A", "B", "C"});
        QTest::newRow("middle") << 1 << QStringList({"A", "N", "B", "C"});
        QTest::newRow("negative appends") << -5 << QStringList({"A", "B", "C", "N"});
    }
    void addAtIndex()
    {
        QFETCH(int, index);
        QFETCH(QStringList, expected);
        RecordingSender sender;
        SongManager model(sender);
        model.replaceSetlist(QList<Song>{song(1, "A"), song(2, "B"), song(3, "C")});
        model.addToSetlist(song(4, "N"), index == -1 ? std::nullopt : std::optional<int>(index));
        QCOMPARE(names(model.setListData()), expected);
        QCOMPARE(names(sender.setlists.value(0)), expected);
    }
    void unparsableLengthWarnsAndCountsNothing()
    {
        RecordingSender sender;
        SongManager model(sender);
        mlog::Capture log;
        model.addToSetlist(song(1, "Jam", "open"));
        QVERIFY(log.contains("Warning: Song length is nil for song Jam."));
        QCOMPARE(model.setLength(), 0.0);
        QVERIFY(model.removeFromSetlist(song(1, "Jam", "open"), 0));
        QCOMPARE(log.count("Warning: Song length is nil for song Jam."), 2);
        QCOMPARE(model.setLength(), 0.0);
    }

    void removeSendsTheSetlistButNoSelection()
    {
        RecordingSender sender;
        SongManager model(sender);
        model.replaceSetlist(QList<Song>{song(1, "A"), song(2, "B"), song(1, "A")});
        QVERIFY(model.removeFromSetlist(song(1, "A"), 2));
        QCOMPARE(names(model.setListData()), QStringList({"A", "B"}));
        QCOMPARE(sender.types(), QList<int>({4}));
        QCOMPARE(model.setLength(), 360.0);
    }
    // The set time used to shrink even when nothing was removed.
    void removeOfAnotherSongKeepsTheSetLength()
    {
        RecordingSender sender;
        SongManager model(sender);
        model.replaceSetlist(QList<Song>{song(1, "A"), song(2, "B")});
        QVERIFY(!model.removeFromSetlist(song(2, "B"), 0));
        QCOMPARE(model.setListData().size(), 2);
        QCOMPARE(model.setLength(), 360.0);
    }
    void removeOutsideTheSetlistIsRefused()
    {
        RecordingSender sender;
        SongManager model(sender);
        QVERIFY(!model.removeFromSetlist(song(1, "A"), 0));
        QVERIFY(!model.removeFromSetlist(song(1, "A"), -1));
        QVERIFY(sender.messages.isEmpty());
    }

    void syncSetlistNamesFollowsThePool()
    {
        RecordingSender sender;
        SongManager model(sender);
        model.replaceSongPool({song(1, "Renamed", "9:99"), song(2, "B")});
        model.setSetListData({song(1, "Old", "3:00"), song(3, "Gone"), song(1, "Old", "3:00")});
        model.syncSetlistNames();
        QCOMPARE(names(model.setListData()), QStringList({"Renamed", "Gone", "Renamed"}));
        QCOMPARE(model.setListData()[0].length, QStringLiteral("3:00"));
    }
    void directSetlistWritesLeaveTheSetLength()
    {
        RecordingSender sender;
        SongManager model(sender);
        model.replaceSetlist(QList<Song>{song(1, "A")});
        model.setSetListData({song(1, "A"), song(2, "B")});
        QCOMPARE(model.setLength(), 180.0);
        QVERIFY(sender.messages.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestSongManager)
#include "tst_songmanager.moc"
