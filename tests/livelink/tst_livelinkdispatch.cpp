// SPDX-License-Identifier: MIT
// What the application does with each validated message from Live.
#include "liveclientharness.h"

#include <QSignalSpy>
#include <QtEndian>

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}

QByteArray mapRecord(const QByteArray &name, int msgType, int channel, int identifier)
{
    QByteArray out;
    out.append(static_cast<char>(name.size()));
    out.append(name);
    out.append(static_cast<char>(msgType));
    out.append(static_cast<char>(channel));
    out.append(static_cast<char>((identifier >> 8) & 0xFF));
    out.append(static_cast<char>(identifier & 0xFF));
    return out;
}

QByteArray songRecord(quint64 id, const QByteArray &name, const QByteArray &length)
{
    QByteArray out(8, '\0');
    qToBigEndian(id, out.data());
    out.append(static_cast<char>(name.size()));
    out.append(name);
    out.append(static_cast<char>(length.size()));
    out.append(length);
    return out;
}

QString describe(const std::optional<MappingData> &m)
{
    return m ? QStringLiteral("%1/%2/%3").arg(m->msgType).arg(m->channel).arg(m->identifier) : QStringLiteral("-");
}

QStringList mappingTexts(const TransportMappings &mappings)
{
    return {describe(mappings.playMapping), describe(mappings.stopMapping), describe(mappings.prevMapping),
            describe(mappings.nextMapping)};
}

QStringList names(const QList<Song> &songs)
{
    QStringList out;
    for (const Song &song : songs)
        out.append(song.name);
    return out;
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
        QTest::newRow("only play") << bytes({0}) + mapRecord("play", 0, 2, 60)
                                   << QStringList{"0/2/60", "-", "-", "-"} << 1 << "";
        QTest::newRow("no records") << bytes({0}) << QStringList{"-", "-", "-", "-"} << 1 << "";
        QTest::newRow("all four") << bytes({0}) + mapRecord("next", 1, 15, 127) + mapRecord("previous", 1, 0, 0) +
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
            << QStringList{"-", "-", "-", "0/15/11"} << 1 << "Ignoring out-of-range mapping for play: channel 16, identifier 10";
        QTest::newRow("identifier above 127 skipped")
            << bytes({0}) + mapRecord("stop", 1, 0, 300) + mapRecord("previous", 1, 0, 127)
            << QStringList{"-", "-", "1/0/127", "-"} << 1 << "Ignoring out-of-range mapping for stop: channel 0, identifier 300";
        QTest::newRow("record cut short") << bytes({0}) + mapRecord("play", 0, 2, 60) + mapRecord("stop", 0, 1, 1).chopped(1)
                                          << untouched << 0 << "Ignoring malformed MIDI map message.";
        QTest::newRow("name runs past end") << bytes({0, 10, 'p', 'l'}) << untouched << 0
                                            << "Ignoring malformed MIDI map message.";
        QTest::newRow("name not UTF-8") << bytes({0}) + mapRecord("\xff\xfe", 0, 1, 1) << untouched << 0
                                        << "Ignoring malformed MIDI map message.";
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

    void playingState()
    {
        LiveClientHarness h;
        QVERIFY(h.connectAndValidate());
        QSignalSpy changed(&h.client, &SocketClient::isPlayingChanged);
        QVERIFY(h.deliver({bytes({1, 1})}));
        QVERIFY(h.client.isPlaying());
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toBool(), true);

        h.log.clear();
        QVERIFY(h.deliver({bytes({1, 3}), bytes({1, 0}), bytes({1})}));
        QVERIFY(h.client.isPlaying());
        QCOMPARE(changed.count(), 1);
        QCOMPARE(h.log.messages(), QStringList{"Ignoring short message of type 1."});

        QVERIFY(h.deliver({bytes({1, 2})}));
        QVERIFY(!h.client.isPlaying());
        QCOMPARE(changed.count(), 2);
        QCOMPARE(changed.at(1).at(0).toBool(), false);
    }

    void songPool_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QStringList>("pool");
        QTest::addColumn<QStringList>("setlist");
        QTest::addColumn<bool>("setlistSection");
        const QByteArray a = songRecord(1, "Alpha", "3:00");
        const QByteArray b = songRecord(2, "Bravo", "4:10");
        const QByteArray c = songRecord(3, "Charlie", "2:05");
        QTest::newRow("pool, separator, nothing after")
            << bytes({3}) + b + a + bytes({4}) << QStringList{"Alpha", "Bravo"} << QStringList{} << false;
        QTest::newRow("separator only") << bytes({3, 4}) << QStringList{} << QStringList{} << false;
        QTest::newRow("no separator") << bytes({3}) + c << QStringList{"Charlie"} << QStringList{} << false;
        QTest::newRow("pool and setlist") << bytes({3}) + a + b + bytes({4}) + b + c
                                          << QStringList{"Alpha", "Bravo"} << QStringList{"Bravo", "Charlie"} << true;
        QTest::newRow("setlist record cut short: old setlist stays")
            << bytes({3}) + a + bytes({4}) + b + c.chopped(2) << QStringList{"Alpha"} << QStringList{"Old set"} << true;
        QTest::newRow("setlist name not UTF-8: old setlist stays")
            << bytes({3}) + a + bytes({4}) + songRecord(4, "\xc3", "1:00") << QStringList{"Alpha"}
            << QStringList{"Old set"} << true;
        QTest::newRow("pool record cut short: nothing changes")
            << bytes({3}) + a + b.chopped(1) << QStringList{"Old pool"} << QStringList{"Old set"} << false;
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

    void tempo_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QStringList>("window");
        QTest::newRow("120.5") << bytes({8, 0, 0, 0x2F, 0x12}) << QStringList{"bpm 120.5"};
        QTest::newRow("extra bytes") << bytes({8, 0, 0, 0x2E, 0xE0, 9}) << QStringList{"bpm 120"};
        QTest::newRow("4-byte payload") << bytes({8, 0, 0x2F, 0x12}) << QStringList{};
        QTest::newRow("type byte only") << bytes({8}) << QStringList{};
    }
    void tempo()
    {
        QFETCH(QByteArray, payload);
        QFETCH(QStringList, window);
        LiveClientHarness h;
        QVERIFY(h.connectAndValidate());
        h.log.clear();
        QVERIFY(h.deliver({payload}));
        QCOMPARE(h.window.events, window);
        QCOMPARE(h.log.messages(), QStringList{"BPM received"});
    }

    void selectionAndCueMode()
    {
        LiveClientHarness h;
        QVERIFY(h.connectAndValidate());
        h.log.clear();
        QVERIFY(h.deliver({bytes({5, 0}), bytes({7, 0}), bytes({5, 255}), bytes({7, 2}), bytes({5}), bytes({7})}));
        QCOMPARE(h.window.events, (QStringList{"row 0", "cue 0", "row 255", "cue 2"}));
        QCOMPARE(h.log.messages(),
                 (QStringList{"Ignoring short message of type 5.", "Ignoring short message of type 7."}));
    }

    void notUnderstood_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QStringList>("log");
        QTest::newRow("ping reply") << bytes({6, 1, 2, 3, 4, 5, 6, 7, 8}) << QStringList{"Unknown header: 6"};
        QTest::newRow("short ping reply") << bytes({6, 1}) << QStringList{"Unknown header: 6"};
        QTest::newRow("type 4") << bytes({4, 0}) << QStringList{"Unknown header: 4"};
        QTest::newRow("type 9") << bytes({9}) << QStringList{"Unknown header: 9"};
        QTest::newRow("type 255") << bytes({255, 1}) << QStringList{"Unknown header: 255"};
        QTest::newRow("type-2 notice") << bytes({2, 1, 2}) << QStringList{};
    }
    void notUnderstood()
    {
        QFETCH(QByteArray, payload);
        QFETCH(QStringList, log);
        LiveClientHarness h;
        QVERIFY(h.connectAndValidate());
        QSignalSpy mappings(&h.mappings, &TransportMappings::midiMappingDidUpdate);
        QSignalSpy songs(&h.songs, &SongManager::songPoolDidUpdate);
        h.log.clear();
        QVERIFY(h.deliver({payload}));
        QCOMPARE(h.log.messages(), log);
        QCOMPARE(h.window.events, QStringList{});
        QCOMPARE(mappings.count(), 0);
        QCOMPARE(songs.count(), 0);
        QVERIFY(h.client.isConnected());
    }
};

QTEST_MAIN(TestLiveLinkDispatch)
#include "tst_livelinkdispatch.moc"
