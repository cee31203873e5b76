// SPDX-License-Identifier: MIT
#include "daemonlivefixture.h"
#include "nophonerelay.h"

namespace {

const QByteArray kPoolSong = song(1, "Intro", "3:05");
const QByteArray kOtherSong = song(2, "Outro", "4:10");
const QByteArray kSetlistSong = song(9, "Encore", "5:00");
const QByteArray kPool = QByteArray(1, 3) + kPoolSong;

} // namespace

class TestDaemonStateCache : public QObject
{
    Q_OBJECT

private slots:
    // A structural walk of the song records, texts not decoded; where it stops is
    // logged with its offset.
    void setlistStartOffset_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("offset"); // -1: not found
        QTest::addColumn<QString>("line");
        const int afterPool = int(kPool.size());
        auto row = [](const char *name, const QByteArray &data, int offset, const QString &line) {
            QTest::newRow(name) << data << offset << line;
        };
        row("setlist behind one pool song", kPool + char(4) + kSetlistSong, afterPool, {});
        row("setlist behind two pool songs", kPool + kOtherSong + char(4),
            int(afterPool + kOtherSong.size()), {});
        row("texts are not decoded",
            QByteArray(1, 3) + u64(1) + text("\xff\xfe") + text("x") + char(4), 14, {});
        row("pool id starting with 0x04 is a record",
            QByteArray(1, 3) + song(0x0400000000000001ULL, "a", "b") + char(4), 13, {});
        row("empty", QByteArray(), -1, "Not a valid song pool header (missing 0x03)");
        row("not a song pool", bytes({5, 4}), -1, "Not a valid song pool header (missing 0x03)");
        row("pool without setlist", kPool + kOtherSong, -1, "No valid setlist start (0x04) found.");
        row("empty pool and setlist", bytes({3, 4}), -1, "Incomplete song ID at offset 1");
        row("record stops after its id", kPool + u64(2), -1,
            QStringLiteral("Incomplete name length at offset %1").arg(afterPool + 8));
        row("record breaks off in its name", kPool + u64(2) + char(5) + "Ou", -1,
            QStringLiteral("Incomplete name bytes at offset %1").arg(afterPool + 9));
        row("length text length missing", QByteArray(1, 3) + u64(1) + text("ab"), -1,
            "Incomplete length string length at offset 12");
        row("length text cut", QByteArray(1, 3) + u64(1) + text("ab") + char(4) + "3:", -1,
            "Incomplete length string at offset 13");
    }
    void setlistStartOffset()
    {
        QFETCH(QByteArray, data);
        QFETCH(int, offset);
        QFETCH(QString, line);
        mlog::Capture log;
        const std::optional<qsizetype> found = DaemonStateCache::setlistStartOffset(data);
        QCOMPARE(found ? int(*found) : -1, offset);
        QCOMPARE(log.messages(), line.isEmpty() ? QStringList() : QStringList{line});
    }

    // The cached pool stays and the setlist is the phone's, not echoed to the phone;
    // the next song data from Live goes to the phone again. A failed merge leaves the
    // cache as it was, and the next song data from Live is stored without being
    // forwarded, the one after that forwarded.
    void merge_data()
    {
        QTest::addColumn<std::optional<QByteArray>>("cached");
        QTest::addColumn<QByteArray>("fromPhone");
        QTest::addColumn<std::optional<QByteArray>>("merged"); // none: merge failed
        using O = std::optional<QByteArray>;
        const QByteArray newSetlist = QByteArray(1, 4) + song(42, "New", "1:00");
        QTest::newRow("two-song setlist replaced by one")
            << O(kPool + char(4) + kSetlistSong + kOtherSong) << newSetlist
            << O(kPool + newSetlist);
        QTest::newRow("setlist emptied") << O(kPool + kOtherSong + char(4) + kSetlistSong)
                                         << bytes({4}) << O(kPool + kOtherSong + char(4));
        QTest::newRow("before any song data") << O() << newSetlist << O();
        QTest::newRow("pool without a setlist section")
            << O(kPool + kOtherSong) << newSetlist << O();
    }
    void merge()
    {
        QFETCH(std::optional<QByteArray>, cached);
        QFETCH(QByteArray, fromPhone);
        QFETCH(std::optional<QByteArray>, merged);
        mlog::Capture log;
        RecordingPhone phone;
        DaemonStateCache cache(phone);
        if (cached)
            cache.updateSongData(*cached);
        phone.sent.clear();
        log.clear();
        cache.mergeSetlistFromiOS(fromPhone);
        QCOMPARE(cache.currentState().songData, merged ? merged : cached);
        QVERIFY(phone.sent.isEmpty());
        QCOMPARE(log.messages().last(),
                 merged ? QStringLiteral("Merged new setlist into cached song data (%1 bytes)")
                              .arg(merged->size())
                        : QStringLiteral("Could not merge — invalid data"));
        const QByteArray first = QByteArray(1, 3) + kPoolSong + char(4);
        cache.updateSongData(first);
        QCOMPARE(cache.currentState().songData, std::optional<QByteArray>(first));
        QCOMPARE(phone.sent, merged ? QList<QByteArray>{first} : QList<QByteArray>());
        const QByteArray second = QByteArray(1, 3) + kOtherSong + char(4);
        cache.updateSongData(second);
        QCOMPARE(phone.sent.last(), second);
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
