// SPDX-License-Identifier: MIT
#include "daemonstatecache.h"
#include "livebytes.h"
#include "log.h"
#include "nophonerelay.h"
#include "recordingphone.h"

#include <QtTest>

using namespace livebytes;

namespace {

const QByteArray kPoolSong = song(1, "Intro", "3:05");
const QByteArray kOtherSong = song(2, "Outro", "4:10");
const QByteArray kSetlistSong = song(9, "Encore", "5:00");
const QString kCouldNotMerge = QStringLiteral("Could not merge — invalid data");

} // namespace

class TestDaemonStateCache : public QObject
{
    Q_OBJECT

private slots:
    void setlistStartOffset_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("offset"); // -1: not found
        QTest::addColumn<QStringList>("lines");

        const QByteArray pool = QByteArray(1, 3) + kPoolSong;
        const int afterPool = int(pool.size());
        QTest::newRow("setlist behind one pool song")
            << pool + char(4) + kSetlistSong << afterPool << QStringList();
        QTest::newRow("setlist behind two pool songs")
            << pool + kOtherSong + char(4) << int(afterPool + kOtherSong.size()) << QStringList();
        QTest::newRow("texts are not decoded")
            << QByteArray(1, 3) + u64(1) + text("\xff\xfe") + text("x") + char(4) << 14
            << QStringList();
        QTest::newRow("pool id starting with 0x04 is a record")
            << QByteArray(1, 3) + song(0x0400000000000001ULL, "a", "b") + char(4) << 13
            << QStringList();

        QTest::newRow("empty") << QByteArray() << -1
                               << QStringList{"Not a valid song pool header (missing 0x03)"};
        QTest::newRow("not a song pool")
            << bytes({5, 4}) << -1 << QStringList{"Not a valid song pool header (missing 0x03)"};
        QTest::newRow("type byte only")
            << bytes({3}) << -1 << QStringList{"No valid setlist start (0x04) found."};
        QTest::newRow("pool without setlist")
            << pool + kOtherSong << -1 << QStringList{"No valid setlist start (0x04) found."};
        QTest::newRow("empty pool and setlist")
            << bytes({3, 4}) << -1 << QStringList{"Incomplete song ID at offset 1"};
        QTest::newRow("second record stops after its id")
            << pool + u64(2) << -1
            << QStringList{
                   QStringLiteral("Incomplete name length at offset %1").arg(afterPool + 8)};
        QTest::newRow("second record breaks off inside its name")
            << pool + u64(2) + char(5) + "Ou" << -1
            << QStringList{QStringLiteral("Incomplete name bytes at offset %1").arg(afterPool + 9)};
        QTest::newRow("length text length missing")
            << QByteArray(1, 3) + u64(1) + text("ab") << -1
            << QStringList{"Incomplete length string length at offset 12"};
        QTest::newRow("length text cut")
            << QByteArray(1, 3) + u64(1) + text("ab") + char(4) + "3:" << -1
            << QStringList{"Incomplete length string at offset 13"};
    }
    void setlistStartOffset()
    {
        QFETCH(QByteArray, data);
        QFETCH(int, offset);
        QFETCH(QStringList, lines);
        mlog::Capture log;
        const std::optional<qsizetype> found = DaemonStateCache::setlistStartOffset(data);
        QCOMPARE(found ? int(*found) : -1, offset);
        QCOMPARE(log.messages(), lines);
    }

    void merge_data()
    {
        QTest::addColumn<QByteArray>("cached");
        QTest::addColumn<QByteArray>("fromPhone");
        QTest::addColumn<QByteArray>("merged");
        const QByteArray pool = QByteArray(1, 3) + kPoolSong;
        const QByteArray newSetlist = QByteArray(1, 4) + song(42, "New", "1:00");
        QTest::newRow("two-song setlist replaced by one")
            << pool + char(4) + kSetlistSong + kOtherSong << newSetlist << pool + newSetlist;
        QTest::newRow("setlist emptied") << pool + kOtherSong + char(4) + kSetlistSong << bytes({4})
                                         << pool + kOtherSong + char(4);
    }
    // The cached pool stays, the setlist is the phone's, and it is not echoed to the
    // phone; the next song data from Live goes to the phone again.
    void merge()
    {
        QFETCH(QByteArray, cached);
        QFETCH(QByteArray, fromPhone);
        QFETCH(QByteArray, merged);
        mlog::Capture log;
        RecordingPhone phone;
        DaemonStateCache cache(phone);
        cache.updateSongData(cached);
        phone.sent.clear();
        log.clear();

        cache.mergeSetlistFromiOS(fromPhone);
        QCOMPARE(cache.currentState().songData, std::optional<QByteArray>(merged));
        QCOMPARE(log.messages(),
                 QStringList{QStringLiteral("Merged new setlist into cached song data (%1 bytes)")
                                 .arg(merged.size())});
        QVERIFY(phone.sent.isEmpty());
        QVERIFY(!cache.setlistFromiOS());

        const QByteArray fromLive = QByteArray(1, 3) + kOtherSong + char(4);
        cache.updateSongData(fromLive);
        QCOMPARE(phone.sent, QList<QByteArray>{fromLive});
    }

    void failedMerge_data()
    {
        QTest::addColumn<std::optional<QByteArray>>("cached");
        QTest::addColumn<QStringList>("lines");
        const QByteArray pool = QByteArray(1, 3) + kPoolSong;
        QTest::newRow("before any song data")
            << std::optional<QByteArray>() << QStringList{kCouldNotMerge};
        QTest::newRow("pool without a setlist section")
            << std::optional<QByteArray>(pool + kOtherSong)
            << QStringList{"No valid setlist start (0x04) found.", kCouldNotMerge};
    }
    // A failed merge leaves the cache as it was, and the next song data from Live
    // is stored without being forwarded; the one after that is forwarded.
    void failedMerge()
    {
        QFETCH(std::optional<QByteArray>, cached);
        QFETCH(QStringList, lines);
        mlog::Capture log;
        RecordingPhone phone;
        DaemonStateCache cache(phone);
        if (cached)
            cache.updateSongData(*cached);
        phone.sent.clear();
        log.clear();

        cache.mergeSetlistFromiOS(QByteArray(1, 4) + kSetlistSong);
        QCOMPARE(log.messages(), lines);
        QCOMPARE(cache.currentState().songData, cached);
        QVERIFY(cache.setlistFromiOS());
        QVERIFY(phone.sent.isEmpty());

        const QByteArray first = QByteArray(1, 3) + kPoolSong + char(4);
        cache.updateSongData(first);
        QCOMPARE(cache.currentState().songData, std::optional<QByteArray>(first));
        QVERIFY(phone.sent.isEmpty());
        QVERIFY(!cache.setlistFromiOS());

        const QByteArray second = QByteArray(1, 3) + kOtherSong + char(4);
        cache.updateSongData(second);
        QCOMPARE(phone.sent, QList<QByteArray>{second});
    }

    void noPhoneRelayPrintsTheCachedSendLine()
    {
        mlog::Capture log;
        NoPhoneRelay phone;
        DaemonStateCache cache(phone);
        cache.updateSongData(bytes({3, 4, 0}));
        phone.sendCached(std::nullopt, QStringLiteral("tempo"));
        phone.sendToiOS(bytes({2}));
        QCOMPARE(log.messages(), QStringList{"Sending cached SongPool + Setlist to iOS (3 bytes)"});
    }
};

QTEST_GUILESS_MAIN(TestDaemonStateCache)
#include "tst_daemonstatecache.moc"
