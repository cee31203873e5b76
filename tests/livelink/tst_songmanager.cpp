// SPDX-License-Identifier: MIT
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

    RecordingSender sender;

private slots:
    void init() { sender.clear(); }

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
        QTest::newRow("overflowing piece counts 0") << "99999999999999999999:10" << 10.0;
    }
    void parseSongLength()
    {
        QFETCH(QString, text);
        QFETCH(double, seconds);
        QCOMPARE(SongManager::parseSongLength(text).value_or(-1.0), seconds);
    }

    // From the selected song to the end; none or past the end: the whole set.
    void remainingTime_data()
    {
        QTest::addColumn<int>("selected");
        QTest::addColumn<QString>("text");
        QTest::newRow("second") << 1 << "00:06:00";
        QTest::newRow("none") << -1 << "00:09:00";
        QTest::newRow("past the end") << 3 << "00:09:00";
    }
    void remainingTime()
    {
        QFETCH(int, selected);
        QFETCH(QString, text);
        SongManager model(sender);
        model.replaceSetlist(QList<Song>{song(1, "A"), song(2, "B"), song(3, "C")});
        model.setSelectedSetlistIndex(selected);
        QCOMPARE(model.remainingSetTimeString(), text);
        QCOMPARE(SongManager::formatSetTime(3723.9), QStringLiteral("01:02:03"));
        QCOMPARE(SongManager::formatSetTime(-30), QStringLiteral("00:00:00"));
        QCOMPARE(SongManager::formatSetTime(1e30), QStringLiteral("99:59:59"));
        QCOMPARE(SongManager::formatSetTime(std::nan("")), QStringLiteral("00:00:00"));
    }

    // What Live sends is shown, never echoed; an emptied setlist still notifies. Direct
    // writes send nothing either; names follow the pool by id, lengths and the set length
    // stay as they were.
    void liveDataAndDirectWritesStayLocal()
    {
        SongManager model(sender);
        QSignalSpy updated(&model, &SongManager::songPoolDidUpdate);
        model.setFilteredPoolData({song(9, "stale")});
        model.replaceSongPool({song(1, "B"), song(2, "A"), song(3, "b"), song(4, "c")});
        QCOMPARE(names(model.songPoolData()),
                 QStringList({"A", "B", "b", "c"})); // B and b tie: as sent
        QCOMPARE(model.filteredPoolData(), model.songPoolData());
        model.replaceSetlist(QList<Song>{song(1, "A", "2:00")});
        QCOMPARE(model.setLength(), 120.0);
        model.replaceSetlist(std::nullopt);
        QCOMPARE(model.setLength(), 0.0);
        QCOMPARE(updated.count(), 2); // a new setlist notifies, a new pool alone does not
        model.replaceSongPool({song(1, "Renamed", "9:99"), song(2, "B")});
        model.replaceSetlist(QList<Song>{song(1, "Old", "3:00")});
        model.setSetListData({song(1, "Old", "3:00"), song(3, "Gone"), song(1, "Old", "3:00")});
        model.syncSetlistNames();
        QCOMPARE(names(model.setListData()), QStringList({"Renamed", "Gone", "Renamed"}));
        QCOMPARE(model.setListData()[0].length, QStringLiteral("3:00"));
        QCOMPARE(model.setLength(), 180.0);
        QVERIFY(sender.messages.isEmpty());
    }

    // The first song added is also selected; later ones send only the setlist.
    void addToSetlist_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<int>("index"); // -1: none
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QList<int>>("sent");
        const QStringList abc{"A", "B", "C"}, abcn{"A", "B", "C", "N"};
        QTest::newRow("first song") << QStringList() << -1 << QStringList{"N"} << QList<int>{4, 3};
        QTest::newRow("none appends") << abc << -1 << abcn << QList<int>{4};
        QTest::newRow("past the end appends") << abc << 7 << abcn << QList<int>{4};
        QTest::newRow("negative appends") << abc << -5 << abcn << QList<int>{4};
        QTest::newRow("front") << abc << 0 << QStringList({"N", "A", "B", "C"}) << QList<int>{4};
        QTest::newRow("middle") << abc << 1 << QStringList({"A", "N", "B", "C"}) << QList<int>{4};
    }
    void addToSetlist()
    {
        QFETCH(QStringList, before);
        QFETCH(int, index);
        QFETCH(QStringList, expected);
        QFETCH(QList<int>, sent);
        SongManager model(sender);
        QList<Song> setlist;
        for (const QString &name : before)
            setlist.append(song(setlist.size() + 1, name));
        model.replaceSetlist(setlist);
        model.addToSetlist(song(9, "N"), index == -1 ? std::nullopt : std::optional<int>(index));
        QCOMPARE(names(model.setListData()), expected);
        QCOMPARE(sender.types(), sent);
        QCOMPARE(names(sender.setlists.value(0)), expected);
        if (sent.size() > 1)
            QCOMPARE(sender.messages[1], QByteArray::fromHex("0300"));
        QCOMPARE(model.setLength(), 180.0 * expected.size());
    }

    // The entry at the index goes only when it is that song; an unparsable length
    // counts nothing either way.
    void removeFromSetlist_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<double>("length");
        QTest::newRow("second A") << 2 << QStringList{"A", "B", "Jam"} << 360.0;
        QTest::newRow("another song there") << 1 << QStringList{"A", "B", "A", "Jam"} << 540.0;
        QTest::newRow("unparsable length") << 3 << QStringList{"A", "B", "A"} << 540.0;
        QTest::newRow("outside") << 4 << QStringList{"A", "B", "A", "Jam"} << 540.0;
        QTest::newRow("negative") << -1 << QStringList{"A", "B", "A", "Jam"} << 540.0;
    }
    void removeFromSetlist()
    {
        QFETCH(int, index);
        QFETCH(QStringList, after);
        QFETCH(double, length);
        SongManager model(sender);
        model.replaceSetlist(
            QList<Song>{song(1, "A"), song(2, "B"), song(1, "A"), song(4, "Jam", "open")});
        const Song target = index == 3 ? song(4, "Jam", "open") : song(1, "A");
        QCOMPARE(model.removeFromSetlist(target, index), after.size() < 4);
        QCOMPARE(names(model.setListData()), after);
        QCOMPARE(model.setLength(), length);
        // Any position inside the setlist sends it, removed or not.
        QCOMPARE(sender.types(), index >= 0 && index < 4 ? QList<int>({4}) : QList<int>());
    }
};

QTEST_GUILESS_MAIN(TestSongManager)
#include "tst_songmanager.moc"
