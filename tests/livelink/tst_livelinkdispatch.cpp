// SPDX-License-Identifier: MIT
// What the application does with each validated message from Live.
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

QStringList mappingTexts(const TransportMappings &mappings)
{
    return {describe(mappings.playMapping), describe(mappings.stopMapping),
            describe(mappings.prevMapping), describe(mappings.nextMapping)};
}

} // namespace

class TestLiveLinkDispatch : public QObject
{
    Q_OBJECT

private slots:
    void midiMap_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QStringList>("expected"); // play, stop, previous, next
        QTest::addColumn<int>("updates");
        QTest::addColumn<QString>("logLine");
        const QStringList untouched{"9/9/9", "9/9/9", "9/9/9", "9/9/9"};
        QTest::newRow("no records") << bytes({0}) << QStringList{"-", "-", "-", "-"} << 1 << "";
        QTest::newRow("all four") << bytes({0}) + mapRecord("next", 1, 15, 127) +
                                         mapRecord("previous", 1, 0, 0) +
                                         mapRecord("stop", 2, 3, 5) + mapRecord("play", 7, 1, 1)
                                  << QStringList{"7/1/1", "2/3/5", "1/0/0", "1/15/127"} << 1 << "";
        QTest::newRow("later record replaces earlier")
            << bytes({0}) + mapRecord("stop", 0, 1, 10) + mapRecord("stop", 1, 2, 20)
            << QStringList{"-", "1/2/20", "-", "-"} << 1 << "";
        QTest::newRow("unknown control name")
            << bytes({0}) + mapRecord("jump", 0, 1, 10) + mapRecord("stop", 0, 1, 11)
            << QStringList{"-", "0/1/11", "-", "-"} << 1 << "Unknown control name: jump";
        QTest::newRow("channel above 15 skipped")
            << bytes({0}) + mapRecord("play", 0, 16, 10) + mapRecord("next", 0, 15, 11)
            << QStringList{"-", "-", "-", "0/15/11"} << 1
            << "Ignoring out-of-range mapping for play: channel 16, identifier 10";
        QTest::newRow("identifier above 127 skipped")
            << bytes({0}) + mapRecord("stop", 1, 0, 300) + mapRecord("previous", 1, 0, 127)
            << QStringList{"-", "-", "1/0/127", "-"} << 1
            << "Ignoring out-of-range mapping for stop: channel 0, identifier 300";
        QTest::newRow("record cut short")
            << bytes({0}) + mapRecord("play", 0, 2, 60) + mapRecord("stop", 0, 1, 1).chopped(1)
            << untouched << 0 << "Ignoring malformed MIDI map message.";
    }
    void midiMap()
    {
        QFETCH(QByteArray, payload);
        QFETCH(QStringList, expected);
        QFETCH(int, updates);
        QFETCH(QString, logLine);
        LiveClientHarness h;
        for (int tag = 1; tag <= 4; ++tag)
            h.mappings.setMapping(tag, MappingData{9, 9, 9});
        QVERIFY(h.connectAndValidate());
        QSignalSpy updated(&h.mappings, &TransportMappings::midiMappingDidUpdate);
        h.log.clear();
        QVERIFY(h.deliver({payload}));
        QCOMPARE(mappingTexts(h.mappings), expected);
        QCOMPARE(updated.count(), updates);
        if (!logLine.isEmpty())
            QCOMPARE(h.log.count(logLine), 1);
        QVERIFY(h.client.isConnected()); // bad bodies never end the connection
    }

    void songPool_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QStringList>("pool");
        QTest::addColumn<QStringList>("setlist");
        QTest::addColumn<bool>("setlistSection");
        const QByteArray a = song(1, "Alpha", "3:00");
        const QByteArray b = song(2, "Bravo", "4:10");
        const QByteArray c = song(3, "Charlie", "2:05");
        QTest::newRow("pool, separator, nothing after")
            << bytes({3}) + b + a + bytes({4}) << QStringList{"Alpha", "Bravo"} << QStringList{}
            << false;
        QTest::newRow("pool and setlist")
            << bytes({3}) + a + b + bytes({4}) + b + c << QStringList{"Alpha", "Bravo"}
            << QStringList{"Bravo", "Charlie"} << true;
        QTest::newRow("setlist record cut short: old setlist stays")
            << bytes({3}) + a + bytes({4}) + b + c.chopped(2) << QStringList{"Alpha"}
            << QStringList{"Old set"} << true;
        QTest::newRow("pool record cut short: nothing changes")
            << bytes({3}) + a + b.chopped(1) << QStringList{"Old pool"} << QStringList{"Old set"}
            << false;
    }
    void songPool()
    {
        QFETCH(QByteArray, payload);
        QFETCH(QStringList, pool);
        QFETCH(QStringList, setlist);
        QFETCH(bool, setlistSection);
        LiveClientHarness h;
        h.songs.replaceSongPool({Song{50, "Old pool", "1:00"}});
        h.songs.replaceSetlist(QList<Song>{Song{51, "Old set", "1:00"}});
        QVERIFY(h.connectAndValidate());
        h.log.clear();
        h.server.clearReceived();
        QVERIFY(h.deliver({payload}));
        QCOMPARE(names(h.songs.songPoolData()), pool);
        QCOMPARE(names(h.songs.setListData()), setlist);
        QCOMPARE(h.log.count("Processing Song Pool Update."), 1);
        QCOMPARE(h.log.count("Processing Setlist Update."), setlistSection ? 1 : 0);
        QCOMPARE(h.server.received(), QByteArray()); // Live's own setlist is not echoed back
    }

    // Messages that reach the window or the playing state, or only the log.
    void windowMessages_data()
    {
        QTest::addColumn<QList<QByteArray>>("payloads");
        QTest::addColumn<QStringList>("window");
        QTest::addColumn<QList<bool>>("playing"); // each isPlayingChanged, in order
        QTest::addColumn<QStringList>("log");
        using P = QList<QByteArray>;
        using S = QStringList;
        using B = QList<bool>;
        const S bpm{"BPM received"};
        QTest::newRow("tempo 120.5")
            << P{bytes({8, 0, 0, 0x2F, 0x12})} << S{"bpm 120.5"} << B{} << bpm;
        QTest::newRow("tempo, extra bytes")
            << P{bytes({8, 0, 0, 0x2E, 0xE0, 9})} << S{"bpm 120"} << B{} << bpm;
        QTest::newRow("tempo of 4 bytes") << P{bytes({8, 0, 0x2F, 0x12})} << S{} << B{} << bpm;
        QTest::newRow("selection and cue mode")
            << P{bytes({5, 0}), bytes({7, 0}), bytes({5, 255}),
                 bytes({7, 2}), bytes({5}),    bytes({7})}
            << S{"row 0", "cue 0", "row 255", "cue 2"} << B{}
            << S{"Ignoring short message of type 5.", "Ignoring short message of type 7."};
        QTest::newRow("playing; other values change nothing")
            << P{bytes({1, 1}), bytes({1, 3}), bytes({1, 0}), bytes({1})} << S{} << B{true}
            << S{"Ignoring short message of type 1."};
        QTest::newRow("playing, then stopped")
            << P{bytes({1, 1}), bytes({1, 2})} << S{} << B{true, false} << S{};
        QTest::newRow("ping reply")
            << P{bytes({6, 1, 2, 3, 4, 5, 6, 7, 8})} << S{} << B{} << S{"Unknown header: 6"};
        QTest::newRow("type 4") << P{bytes({4, 0})} << S{} << B{} << S{"Unknown header: 4"};
        QTest::newRow("type 255") << P{bytes({255, 1})} << S{} << B{} << S{"Unknown header: 255"};
        QTest::newRow("type-2 notice") << P{bytes({2, 1, 2})} << S{} << B{} << S{};
    }
    void windowMessages()
    {
        QFETCH(QList<QByteArray>, payloads);
        QFETCH(QStringList, window);
        QFETCH(QList<bool>, playing);
        QFETCH(QStringList, log);
        LiveClientHarness h;
        QVERIFY(h.connectAndValidate());
        QSignalSpy playingChanged(&h.client, &SocketClient::isPlayingChanged);
        QSignalSpy mappings(&h.mappings, &TransportMappings::midiMappingDidUpdate);
        QSignalSpy songs(&h.songs, &SongManager::songPoolDidUpdate);
        h.log.clear();
        QVERIFY(h.deliver(payloads));
        QCOMPARE(h.window.events, window);
        QCOMPARE(h.log.messages(), log);
        QList<bool> changes;
        for (const QList<QVariant> &args : playingChanged)
            changes.append(args.at(0).toBool());
        QCOMPARE(changes, playing);
        QCOMPARE(h.client.isPlaying(), !playing.isEmpty() && playing.last());
        QCOMPARE(mappings.count(), 0);
        QCOMPARE(songs.count(), 0);
        QVERIFY(h.client.isConnected());
    }
};

QTEST_MAIN(TestLiveLinkDispatch)
#include "tst_livelinkdispatch.moc"
