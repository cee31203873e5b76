// SPDX-License-Identifier: MIT
// What the application does with each validated message from Live; bad bodies are
// dropped without ending the connection.
#include "liveclientharness.h"
#include "songlists.h"

#include <QSignalSpy>

using songlists::names;

namespace {

QString describe(const std::optional<MappingData> &m)
{
    return m ? QStringLiteral("%1/%2/%3").arg(m->msgType).arg(m->channel).arg(m->identifier)
             : QStringLiteral("-");
}

} // namespace

class TestLiveLinkDispatch : public QObject
{
    Q_OBJECT

private slots:
    // Every map replaces all four; unknown names and out-of-range values are skipped;
    // a cut record leaves the old mappings alone.
    void midiMap_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QStringList>("expected"); // play, stop, previous, next
        QTest::addColumn<int>("updates");
        using S = QStringList;
        QTest::newRow("no records") << bytes({0}) << S{"-", "-", "-", "-"} << 1;
        QTest::newRow("all four") << bytes({0}) + mapRecord("next", 1, 15, 127) +
                                         mapRecord("previous", 1, 0, 0) +
                                         mapRecord("stop", 2, 3, 5) + mapRecord("play", 7, 1, 1)
                                  << S{"7/1/1", "2/3/5", "1/0/0", "1/15/127"} << 1;
        QTest::newRow("later record wins, unknown name skipped")
            << bytes({0}) + mapRecord("stop", 0, 1, 10) + mapRecord("jump", 0, 1, 9) +
                   mapRecord("stop", 1, 2, 20)
            << S{"-", "1/2/20", "-", "-"} << 1;
        QTest::newRow("channel above 15, identifier above 127 skipped")
            << bytes({0}) + mapRecord("play", 0, 16, 10) + mapRecord("stop", 1, 0, 300) +
                   mapRecord("next", 0, 15, 11)
            << S{"-", "-", "-", "0/15/11"} << 1;
        QTest::newRow("record cut short")
            << bytes({0}) + mapRecord("play", 0, 2, 60) + mapRecord("stop", 0, 1, 1).chopped(1)
            << S{"9/9/9", "9/9/9", "9/9/9", "9/9/9"} << 0;
    }
    void midiMap()
    {
        QFETCH(QByteArray, payload);
        QFETCH(QStringList, expected);
        QFETCH(int, updates);
        LiveClientHarness h;
        for (int tag = 1; tag <= 4; ++tag)
            h.mappings.setMapping(tag, MappingData{9, 9, 9});
        QVERIFY(h.connectAndValidate());
        QSignalSpy updated(&h.mappings, &TransportMappings::midiMappingDidUpdate);
        QVERIFY(h.deliver({payload}));
        QCOMPARE((QStringList{describe(h.mappings.playMapping), describe(h.mappings.stopMapping),
                              describe(h.mappings.prevMapping), describe(h.mappings.nextMapping)}),
                 expected);
        QCOMPARE(updated.count(), updates);
        QVERIFY(h.client.isConnected());
    }

    // Live's own setlist is shown, not echoed back.
    void songPool_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QStringList>("pool");
        QTest::addColumn<QStringList>("setlist");
        const QByteArray a = song(1, "Alpha", "3:00");
        const QByteArray b = song(2, "Bravo", "4:10");
        const QByteArray c = song(3, "Charlie", "2:05");
        using S = QStringList;
        QTest::newRow("pool, separator, nothing after")
            << bytes({3}) + b + a + bytes({4}) << S{"Alpha", "Bravo"} << S{};
        QTest::newRow("pool and setlist") << bytes({3}) + a + b + bytes({4}) + b + c
                                          << S{"Alpha", "Bravo"} << S{"Bravo", "Charlie"};
        QTest::newRow("setlist record cut short: old setlist stays")
            << bytes({3}) + a + bytes({4}) + b + c.chopped(2) << S{"Alpha"} << S{"Old set"};
        QTest::newRow("pool record cut short: nothing changes")
            << bytes({3}) + a + b.chopped(1) << S{"Old pool"} << S{"Old set"};
    }
    void songPool()
    {
        QFETCH(QByteArray, payload);
        QFETCH(QStringList, pool);
        QFETCH(QStringList, setlist);
        LiveClientHarness h;
        h.songs.replaceSongPool({Song{50, "Old pool", "1:00"}});
        h.songs.replaceSetlist(QList<Song>{Song{51, "Old set", "1:00"}});
        QVERIFY(h.connectAndValidate());
        h.server.clearReceived();
        QVERIFY(h.deliver({payload}));
        QCOMPARE(names(h.songs.songPoolData()), pool);
        QCOMPARE(names(h.songs.setListData()), setlist);
        QCOMPARE(h.server.received(), QByteArray());
    }

    // Messages that reach the window or the playing state, or nothing.
    void windowMessages_data()
    {
        QTest::addColumn<QList<QByteArray>>("payloads");
        QTest::addColumn<QStringList>("window");
        QTest::addColumn<QList<bool>>("playing"); // each isPlayingChanged, in order
        using P = QList<QByteArray>;
        using S = QStringList;
        using B = QList<bool>;
        QTest::newRow("tempo, extra bytes")
            << P{bytes({8, 0, 0, 0x2E, 0xE0, 9})} << S{"bpm 120"} << B{};
        QTest::newRow("tempo of 4 bytes") << P{bytes({8, 0, 0x2F, 0x12})} << S{} << B{};
        QTest::newRow("selection and cue mode, short ones dropped")
            << P{bytes({5, 0}), bytes({7, 0}), bytes({5, 255}),
                 bytes({7, 2}), bytes({5}),    bytes({7})}
            << S{"row 0", "cue 0", "row 255", "cue 2"} << B{};
        QTest::newRow("playing; other values change nothing")
            << P{bytes({1, 1}), bytes({1, 3}), bytes({1, 0}), bytes({1})} << S{} << B{true};
        QTest::newRow("playing, then stopped")
            << P{bytes({1, 1}), bytes({1, 2})} << S{} << B{true, false};
        QTest::newRow("ping reply, unknown types, notice")
            << P{bytes({6, 1, 2, 3, 4, 5, 6, 7, 8}), bytes({4, 0}), bytes({255, 1}), bytes({2, 1})}
            << S{} << B{};
    }
    void windowMessages()
    {
        QFETCH(QList<QByteArray>, payloads);
        QFETCH(QStringList, window);
        QFETCH(QList<bool>, playing);
        LiveClientHarness h;
        QVERIFY(h.connectAndValidate());
        QSignalSpy playingChanged(&h.client, &SocketClient::isPlayingChanged);
        QSignalSpy mappings(&h.mappings, &TransportMappings::midiMappingDidUpdate);
        QSignalSpy songs(&h.songs, &SongManager::songPoolDidUpdate);
        QVERIFY(h.deliver(payloads));
        QCOMPARE(h.window.events, window);
        QList<bool> changes;
        for (const QList<QVariant> &args : playingChanged)
            changes.append(args.at(0).toBool());
        QCOMPARE(changes, playing);
        QCOMPARE(h.client.isPlaying(), !playing.isEmpty() && playing.last());
        QCOMPARE(mappings.count() + songs.count(), 0);
        QVERIFY(h.client.isConnected());
    }
};

QTEST_MAIN(TestLiveLinkDispatch)
#include "tst_livelinkdispatch.moc"
