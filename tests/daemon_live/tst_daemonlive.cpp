// SPDX-License-Identifier: MIT
// The daemon's Live side: framing, dispatch, pings, teardown, reconnection, the state cache.
#include "daemonlivefixture.h"
#include "livereconnector.h"
#include "serverportfile.h"
#include "temphome.h"

using Field = std::optional<QByteArray> MarquellState::*;
Q_DECLARE_METATYPE(Field)

namespace {

const QByteArray kPoolSong = song(1, "Intro", "3:05");
const QByteArray kOtherSong = song(2, "Outro", "4:10");
const QByteArray kSetlistSong = song(9, "Encore", "5:00");
const QByteArray kPool = QByteArray(1, 3) + kPoolSong;
const QByteArray kBpm = bytes({8, 0, 0, 0x2f, 0x12});

} // namespace

class TestDaemonLive : public QObject
{
    Q_OBJECT

private slots:
    // A frame arriving in pieces is read whole; a bad length ends the connection, unread.
    void payloadLengths_data()
    {
        QTest::addColumn<quint32>("length");
        QTest::newRow("4096") << 4096u;
        QTest::newRow("1") << 1u;
        QTest::newRow("4097") << 4097u;
        QTest::newRow("0") << 0u;
    }
    void payloadLengths()
    {
        QFETCH(quint32, length);
        Rig rig;
        QVERIFY(rig.validate());
        const QByteArray payload = QByteArray(1, 3) + QByteArray(qMax(length, 1u) - 1, 'x');
        const QByteArray wire = length ? frame(payload) : bytes({0, 0, 0, 0}) + payload;
        if (length >= 1 && length <= 4096) {
            rig.server.write(wire.first(2));
            QTest::qWait(2); // let each piece travel on its own
            rig.server.write(wire.sliced(2, wire.size() - 3));
            QTest::qWait(2);
            QVERIFY(rig.phone.sent.isEmpty());
            rig.server.write(wire.last(1));
            QTRY_COMPARE(rig.phone.sent, QList<QByteArray>{payload});
            QCOMPARE(rig.cache.currentState().songData, std::optional<QByteArray>(payload));
            QVERIFY(rig.socket.isConnected());
            return;
        }
        rig.server.write(wire.left(100) + frame(kBpm));
        QTRY_COMPARE(rig.lastState(), ConnectionState::disconnected());
        QVERIFY(!rig.socket.isConnected());
        QTRY_VERIFY(!rig.server.hasClient());
        QVERIFY(rig.phone.sent.isEmpty());
        QVERIFY(!rig.cache.currentState().bpm);
    }

    // What reaches the phone and the state field keeping it; short or unknown: nothing.
    void dispatch_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QList<QByteArray>>("toPhone");
        QTest::addColumn<Field>("field"); // the state field it is stored in, if any
        const QByteArray midiMap = bytes({0, 3, 'a', 'b', 'c', 1, 2, 0, 5});
        const QByteArray songs = QByteArray(1, 3) + song(1, "A", "1:00") + char(4);
        using L = QList<QByteArray>;
        auto row = [](const char *name, const QByteArray &payload, const L &toPhone,
                      Field field = nullptr) {
            QTest::newRow(name) << payload << toPhone << field;
        };
        row("type 0", midiMap, L{midiMap}, &MarquellState::midiMapInit);
        row("type 0 one byte short", midiMap.chopped(1), L{});
        row("type 0 without records", bytes({0}), L{bytes({0})}, &MarquellState::midiMapInit);
        row("type 1", bytes({1, 1, 0xff}), L{bytes({1, 1})});
        row("type 1 short", bytes({1}), L{});
        row("type 2", bytes({2, 7, 7}), L{bytes({2})});
        row("type 3", songs, L{songs}, &MarquellState::songData);
        row("type 3 not validated", bytes({3, 9}), L{bytes({3, 9})}, &MarquellState::songData);
        row("type 5", bytes({5, 3}), L{bytes({5, 3})}, &MarquellState::selectedIndex);
        row("type 5 short", bytes({5}), L{});
        row("type 7", bytes({7, 2}), L{bytes({7, 2})}, &MarquellState::cueJumpMode);
        row("type 7 short", bytes({7}), L{});
        row("type 8", kBpm, L{kBpm}, &MarquellState::bpm);
        row("type 8 short", kBpm.chopped(1), L{});
        // Only the subscribed daemon gets these: kept, never relayed to the phone.
        const QByteArray sections = bytes({11}) + u64(1) + bytes({1}) + u32(0) + u32(9) + text("A");
        row("type 10", position(1, 2, 3, 0, 1), L{}, &MarquellState::songPosition);
        row("type 10 short", position(1, 2, 3, 0, 1).chopped(1), L{});
        row("type 11", sections, L{}, &MarquellState::sections);
        row("type 11 cut", sections.chopped(1), L{});
        row("type 12", bytes({12, 0, 2, 1, 0}), L{}, &MarquellState::setlistMarks);
        row("type 4", bytes({4, 1}), L{});
        row("type 255", bytes({255}), L{});
        row("type 6 of 8 bytes", bytes({6, 0, 0, 0, 0, 0, 0, 1}), L{});
    }
    void dispatch()
    {
        QFETCH(QByteArray, payload);
        QFETCH(QList<QByteArray>, toPhone);
        QFETCH(Field, field);
        Rig rig;
        QVERIFY(rig.validate());
        rig.server.writeFrame(payload);
        QVERIFY(rig.settle());
        QCOMPARE(rig.phone.sent, toPhone);
        MarquellState stored;
        if (field)
            stored.*field = payload;
        QVERIFY(rig.cache.currentState() == stored);
        QVERIFY(rig.socket.isConnected());
    }

    // A zero ping starts the cycle without an RTT; each echo prints one, the next ping
    // after the interval. A reply from the future gives no RTT; without a reply it ends.
    void pingCycle()
    {
        mlog::Capture log;
        Rig rig;
        QVERIFY(rig.validate());
        rig.server.writeFrame(QByteArray(1, 6) + u64(0));
        QTRY_COMPARE(rig.server.received().size(), 9);
        QByteArray ping = rig.server.takeReceived();
        QCOMPARE(ping.at(0), char(6));
        QVERIFY(qFromBigEndian<quint64>(ping.constData() + 1) <=
                AbletonSocket::monotonicNanoseconds());
        for (const quint64 clock : {qFromBigEndian<quint64>(ping.constData() + 1), ~quint64(0)}) {
            log.clear();
            QElapsedTimer sinceReply;
            sinceReply.start();
            rig.server.writeFrame(QByteArray(1, 6) + u64(clock));
            QTRY_COMPARE(rig.server.received().size(), 9);
            QVERIFY2(sinceReply.elapsed() >= 90, "the next ping waits for the interval");
            QCOMPARE(log.messages().first().startsWith("🎯 RTT to Ableton: "), clock != ~quint64(0));
            rig.server.takeReceived();
        }
        QTest::qWait(350);
        QCOMPARE(rig.server.received(), QByteArray());
    }

    // Re-encoded for Live, then merged into the cached song data without an echo.
    void setlistFromPhone_data()
    {
        QTest::addColumn<QByteArray>("fromPhone");
        QTest::addColumn<QByteArray>("toLive"); // empty: nothing written
        const QByteArray longName(255, 'n');
        QTest::newRow("empty") << bytes({4}) << bytes({4});
        QTest::newRow("two songs, longest name, non-ASCII")
            << QByteArray(1, 4) + song(1, "Caf\xc3\xa9", "1:00") +
                   song(0x0102030405060708ULL, longName, "9:59")
            << QByteArray(1, 4) + u64(1) + text("Caf\xc3\xa9") + u64(0x0102030405060708ULL) +
                   text(longName);
        QTest::newRow("stops at a separator")
            << QByteArray(1, 4) + song(3, "A", "1:00") + char(4) + "junk"
            << QByteArray(1, 4) + u64(3) + text("A");
        QTest::newRow("truncated record")
            << QByteArray(1, 4) + song(3, "A", "1:00") + song(4, "Bee", "2:00").chopped(2)
            << QByteArray();
    }
    void setlistFromPhone()
    {
        QFETCH(QByteArray, fromPhone);
        QFETCH(QByteArray, toLive);
        Rig rig;
        rig.socket.send(fromPhone); // before any connection: nothing happens
        QVERIFY(!rig.cache.setlistFromiOS());
        QVERIFY(rig.validate());
        const QByteArray pool = QByteArray(1, 3) + song(1, "Pool", "1:00");
        rig.server.writeFrame(pool + char(4) + song(2, "Old", "2:00"));
        QVERIFY(rig.settle());
        rig.phone.sent.clear();
        rig.socket.send(fromPhone);
        QCOMPARE(rig.cache.currentState().songData, std::optional<QByteArray>(pool + fromPhone));
        QVERIFY(rig.phone.sent.isEmpty());
        // Anything else goes unchanged, and is the only thing behind the setlist.
        rig.socket.send(bytes({1, 4}));
        QTRY_COMPARE(rig.server.received(), toLive + bytes({1, 4}));
    }

    // Whole frames before the close are still handled; the next connection validates anew.
    void serverCloses_data()
    {
        QTest::addColumn<QByteArray>("lastBytes");
        QTest::addColumn<bool>("bpmKept");
        QTest::newRow("during payload") << bytes({0, 0, 0, 10, 3, 1, 2}) << false;
        QTest::newRow("between frames") << frame(kBpm) + bytes({0, 0}) << true;
    }
    void serverCloses()
    {
        QFETCH(QByteArray, lastBytes);
        QFETCH(bool, bpmKept);
        Rig rig;
        QVERIFY(rig.validate());
        rig.server.writeFrame(position(1, 2, 3, 0, 1));
        rig.server.write(lastBytes);
        rig.server.closeClients();
        QTRY_COMPARE(rig.lastState(), ConnectionState::disconnected());
        QCOMPARE(rig.connected, QList<QVariantList>{{false}});
        QVERIFY(!rig.cache.currentState().songData);
        QCOMPARE(rig.cache.currentState().bpm, bpmKept ? std::optional(kBpm) : std::nullopt);
        QVERIFY(!rig.socket.serverValidated());
        QVERIFY(rig.cache.currentState().songPosition);
        // The next server says where its own song is; the old position is not kept for it.
        QVERIFY(rig.validate());
        QVERIFY(!rig.cache.currentState().songPosition);
        QCOMPARE(rig.server.acceptedCount(), 2);
    }

    void failedAttemptLeavesTheConnectionInPlace()
    {
        mlog::Capture log;
        Rig rig;
        QVERIFY(rig.validate());
        rig.socket.connectToLive(ScriptedLiveServer::closedPort());
        QTRY_VERIFY(log.contains("Cancelled connection to Live"));
        QCOMPARE(rig.allStates(), QList<ConnectionState>{ConnectionState::waiting()});
        QVERIFY(rig.socket.isConnected());
        rig.socket.send(bytes({1, 1}));
        QTRY_COMPARE(rig.server.received(), bytes({1, 1}));
        rig.server.writeFrame(bytes({7, 1}));
        QTRY_COMPARE(rig.phone.sent, QList<QByteArray>{bytes({7, 1})});
    }

    // Nothing listens: waiting, then cancelled, each time isConnected false. Then Live is
    // up on a newly published port (0 means 6000): server.json is read every attempt.
    void reconnectionCyclesUntilLiveReturns()
    {
        TempHome home;
        home.writeServerJson("{\"port\": 0}");
        QCOMPARE(int(LiveReconnector::portToUse(serverportfile::serverConfigPath())), 6000);
        const quint16 port = ScriptedLiveServer::closedPort();
        home.writeServerJson(portJson(port));
        Rig rig;
        LiveReconnector reconnector(rig.socket, serverportfile::serverConfigPath(), 40ms);
        QSignalSpy attempts(&reconnector, &LiveReconnector::connecting);
        reconnector.start();
        QTRY_VERIFY(attempts.size() >= 3);
        const QList<ConnectionState> states = rig.allStates();
        for (qsizetype i = 0; i + 1 < states.size(); i += 2)
            QCOMPARE(QList({states[i], states[i + 1]}),
                     QList({ConnectionState::waiting(), ConnectionState::disconnected()}));
        QVERIFY(rig.connected.size() >= 2);
        QVERIFY(!rig.connected.contains(QVariantList{true}));
        QCOMPARE(attempts.first().at(0).value<quint16>(), port);
        home.writeServerJson(portJson(rig.server.port()));
        QVERIFY(rig.answer());
    }

    // With the next attempt an hour away, only a change of server.json brings Live: at
    // once while Live is away, at the end of the connection while one lasts. A later
    // disconnection waits the normal delay again.
    void publishedPortIsTakenAtOnce_data()
    {
        QTest::addColumn<bool>("connected"); // when the new port is published
        QTest::newRow("while away") << false;
        QTest::newRow("during a connection") << true;
    }
    void publishedPortIsTakenAtOnce()
    {
        QFETCH(bool, connected);
        TempHome home;
        ScriptedLiveServer old;
        home.writeServerJson(portJson(connected ? old.port() : ScriptedLiveServer::closedPort()));
        Rig rig;
        LiveReconnector reconnector(rig.socket, serverportfile::serverConfigPath(), 1h);
        reconnector.start();
        if (connected)
            QTRY_VERIFY(old.hasClient() && rig.socket.isConnected());
        else
            QTRY_VERIFY(rig.allStates().contains(ConnectionState::disconnected()));
        home.writeServerJson(portJson(rig.server.port()));
        if (connected) {
            QTest::qWait(200); // the change is seen, and waits for the connection's end
            QCOMPARE(rig.server.acceptedCount(), 0);
            old.closeClients();
        }
        QVERIFY(rig.answer());
        rig.server.closeClients();
        QTRY_VERIFY(rig.allStates().contains(ConnectionState::disconnected()));
        QTest::qWait(200); // nothing to wait for: an attempt that must not come
        QCOMPARE(rig.server.acceptedCount(), 1);
    }

    // A structural walk of the song records, texts not decoded; a stop is logged with its offset.
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

    // The pool stays, the setlist is the phone's, not echoed; Live's next song data is
    // forwarded. A failed merge keeps the cache; the next is stored, the one after sent.
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
        RecordingPhone phone;
        DaemonStateCache cache(phone);
        if (cached)
            cache.updateSongData(*cached);
        phone.sent.clear();
        cache.mergeSetlistFromiOS(fromPhone);
        QCOMPARE(cache.currentState().songData, merged ? merged : cached);
        QVERIFY(phone.sent.isEmpty());
        const QByteArray first = QByteArray(1, 3) + kPoolSong + char(4);
        cache.updateSongData(first);
        QCOMPARE(cache.currentState().songData, std::optional<QByteArray>(first));
        QCOMPARE(phone.sent, merged ? QList<QByteArray>{first} : QList<QByteArray>());
        const QByteArray second = QByteArray(1, 3) + kOtherSong + char(4);
        cache.updateSongData(second);
        QCOMPARE(phone.sent.last(), second);
    }
};

QTEST_GUILESS_MAIN(TestDaemonLive)
#include "tst_daemonlive.moc"
