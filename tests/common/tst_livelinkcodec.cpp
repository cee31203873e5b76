// SPDX-License-Identifier: MIT
#include "livebytes.h"
#include "livelinkcodec.h"

#include <QtTest>

using namespace livelink;

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

template <typename T> T as(const ServerMessage &message)
{
    if (!std::holds_alternative<T>(message))
        qFatal("decoded to the wrong alternative (index %d)", int(message.index()));
    return std::get<T>(message);
}

} // namespace

class TestLiveLinkCodec : public QObject
{
    Q_OBJECT

private slots:
    // ---- handshake
    void identity_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<bool>("valid");
        QTest::newRow("exact") << QByteArray("MARQUELL_SERVER") << true;
        QTest::newRow("line feed") << QByteArray("MARQUELL_SERVER\n") << true;
        QTest::newRow("crlf and spaces") << QByteArray("  MARQUELL_SERVER\r\n") << true;
        QTest::newRow("tab before") << QByteArray("\tMARQUELL_SERVER") << true;
        QTest::newRow("other trailing char") << QByteArray("MARQUELL_SERVERx") << false;
        QTest::newRow("client token") << QByteArray("MARQUELL_CLIENT") << false;
        QTest::newRow("lower case") << QByteArray("marquell_server") << false;
        QTest::newRow("invalid utf8") << QByteArray("MARQUELL_SERVER\xff") << false;
        QTest::newRow("truncated utf8") << QByteArray("MARQUELL_SERVER\xc3") << false;
        QTest::newRow("inner nul") << QByteArray("MARQUELL\0SERVER", 15) << false;
        QTest::newRow("empty") << QByteArray() << false;
    }
    void identity()
    {
        QFETCH(QByteArray, payload);
        QFETCH(bool, valid);
        QCOMPARE(isServerIdentity(payload), valid);
    }
    void replyIsFifteenUnframedBytes()
    {
        QCOMPARE(clientIdentityReply(), QByteArray("MARQUELL_CLIENT"));
        QCOMPARE(clientIdentityReply().size(), 15);
    }
    void strictUtf8()
    {
        QCOMPARE(decodeUtf8("h\xc3\xa9llo").value(), QString::fromUtf8("h\xc3\xa9llo"));
        QVERIFY(!decodeUtf8("\xc0\xaf"));     // overlong slash
        QVERIFY(!decodeUtf8("\xed\xa0\x80")); // encoded surrogate
        QCOMPARE(decodeUtf8("").value(), QString());
    }

    // ---- client messages
    void clientMessages_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("set mapping: channel before msgType") << encodeSetMapping(9, 1, 0x0140, 3)
                                                             << hex("00090101"
                                                                    "4003");
        QTest::newRow("transport next") << encodeTransportCommand(4) << hex("0104");
        QTest::newRow("clear mapping") << encodeClearMapping(2) << hex("0202");
        QTest::newRow("select index 255") << encodeSelectSetlistIndex(255) << hex("03ff");
        QTest::newRow("play pool song")
            << encodePlaySongPoolSong(0x8000000000000102ULL) << hex("058000000000000102");
        QTest::newRow("ping") << encodePing(0x0102030405060708ULL) << hex("060102030405060708");
        QTest::newRow("cue mode") << encodeCueMode(2) << hex("0702");
        QTest::newRow("clear all") << encodeClearAllMappings() << hex("09");
        QTest::newRow("empty setlist") << encodeSetlist({}) << hex("04");
        QTest::newRow("one song, id 7, five letters")
            << encodeSetlist({Song{7, QStringLiteral("Intro"), QStringLiteral("3:05")}})
            << hex("04"
                   "0000000000000007"
                   "05") +
                   "Intro";
        QTest::newRow("two songs, repeated entry")
            << encodeSetlist({Song{1, "A", "1:00"}, Song{1, "A", "1:00"}})
            << hex("04"
                   "0000000000000001"
                   "01") +
                   "A" +
                   hex("0000000000000001"
                       "01") +
                   "A";
    }
    void clientMessages()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, expected);
        QCOMPARE(bytes.toHex(' '), expected.toHex(' '));
    }

    // A name over 255 bytes used to leave only the id behind, corrupting the stream.
    void longNamesAreCutAtACharacterBoundary()
    {
        const QString name = QString(128, QChar(u'\u00e9')); // 256 bytes
        const QByteArray bytes = encodeSetlist({Song{5, name, QString()}});
        QCOMPARE(quint8(bytes[9]), quint8(254)); // 255 would split the last é
        QCOMPARE(bytes.size(), 1 + 8 + 1 + 254);
        QVERIFY(decodeUtf8(bytes.mid(10)).has_value());

        QCOMPARE(utf8Prefix(QString(300, u'a'), 255).size(), 255);
        QCOMPARE(utf8Prefix(QStringLiteral("ok"), 255), QByteArray("ok"));
        QCOMPARE(utf8Prefix(QString::fromUtf8("\xf0\x9f\x8e\xb8"), 3), QByteArray()); // 4-byte char
    }

    // ---- server messages
    void shortBodiesAreMalformed_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("type");
        QTest::newRow("empty") << QByteArray() << 0;
        QTest::newRow("playing without value") << hex("01") << 1;
        QTest::newRow("index without value") << hex("05") << 5;
        QTest::newRow("ping reply of 8 bytes") << hex("0600000000000000") << 6;
        QTest::newRow("cue mode without value") << hex("07") << 7;
        QTest::newRow("tempo of 4 bytes") << hex("08000030") << 8;
    }
    void shortBodiesAreMalformed()
    {
        QFETCH(QByteArray, payload);
        QFETCH(int, type);
        const auto bad = as<Malformed>(decodeServerMessage(payload));
        QCOMPARE(int(bad.type), type);
        QCOMPARE(bad.fault, Fault::TooShort);
    }
    void fixedSizeMessages()
    {
        QCOMPARE(as<PlayingState>(decodeServerMessage(hex("0101ff"))).value, quint8(1));
        QCOMPARE(as<PlayingState>(decodeServerMessage(hex("0103"))).value, quint8(3));
        QVERIFY(std::holds_alternative<Notice>(decodeServerMessage(hex("02"))));
        QCOMPARE(as<SelectedIndex>(decodeServerMessage(hex("05ff"))).index, quint8(255));
        QCOMPARE(as<PingReply>(decodeServerMessage(hex("06ffeeddccbbaa9988"))).clock,
                 0xffeeddccbbaa9988ULL);
        QCOMPARE(as<CueMode>(decodeServerMessage(hex("0702"))).mode, quint8(2));
        const Tempo tempo = as<Tempo>(decodeServerMessage(hex("0800002f12")));
        QCOMPARE(tempo.hundredths, 12050u);
        QCOMPARE(tempo.bpm(), 120.5f);
    }
    void unknownTypes_data()
    {
        QTest::addColumn<int>("type");
        QTest::newRow("4 from the server") << 4;
        QTest::newRow("9") << 9;
        QTest::newRow("255") << 255;
    }
    void unknownTypes()
    {
        QFETCH(int, type);
        const QByteArray payload(1, char(type));
        QCOMPARE(int(as<UnknownMessage>(decodeServerMessage(payload)).type), type);
    }

    void midiMap()
    {
        QByteArray payload = hex("00");
        payload += char(4) + QByteArray("play") +
                   hex("0001"
                       "0024");
        payload += char(4) + QByteArray("next") +
                   hex("0103"
                       "0040");
        payload += char(4) + QByteArray("play") +
                   hex("0002"
                       "0025"); // later record wins later
        const MidiMap map = as<MidiMap>(decodeServerMessage(payload));
        QCOMPARE(map.records.size(), 3);
        QCOMPARE(map.records[0], (MidiMapRecord{"play", 0, 1, 0x24}));
        QCOMPARE(map.records[1], (MidiMapRecord{"next", 1, 3, 0x40}));
        QCOMPARE(map.records[2].identifier, quint16(0x25));
        QVERIFY(isWellFormedMidiMap(payload));

        QVERIFY(as<MidiMap>(decodeServerMessage(hex("00"))).records.isEmpty());
        QVERIFY(isWellFormedMidiMap(hex("00")));
    }
    void malformedMidiMap_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("fault");
        const QByteArray good = hex("00"
                                    "03") +
                                "abc" + hex("01020005");
        QTest::newRow("one byte short") << good.chopped(1) << int(Fault::Truncated);
        QTest::newRow("name runs past end") << hex("00"
                                                   "09") +
                                                   "abc"
                                            << int(Fault::Truncated);
        QTest::newRow("trailing length byte") << good + hex("04") << int(Fault::Truncated);
        QTest::newRow("name not utf8") << hex("00"
                                              "01"
                                              "ff"
                                              "00000001")
                                       << int(Fault::InvalidUtf8);
    }
    void malformedMidiMap()
    {
        QFETCH(QByteArray, payload);
        QFETCH(int, fault);
        QCOMPARE(int(as<Malformed>(decodeServerMessage(payload)).fault), fault);
        if (fault == int(Fault::Truncated))
            QVERIFY(!isWellFormedMidiMap(payload));
    }
    void structuralWalkIgnoresText()
    {
        QVERIFY(isWellFormedMidiMap(hex("00"
                                        "01"
                                        "ff"
                                        "00000001")));
    }

    void songPool_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("poolSize");
        QTest::addColumn<int>("section");
        QTest::addColumn<int>("setlistSize");
        QTest::addColumn<bool>("bytesFollow");
        const QByteArray a = livebytes::song(0x8000000000000001ULL, "Alpha", "3:00");
        const QByteArray b = livebytes::song(0x8000000000000002ULL, "Bravo", "4:30");
        QTest::newRow("pool only")
            << hex("03") + a + b << 2 << int(SetlistSection::Absent) << 0 << false;
        QTest::newRow("pool then separator, no setlist")
            << hex("03") + a + b + hex("04") << 2 << int(SetlistSection::Absent) << 0 << false;
        QTest::newRow("only the separator")
            << hex("0304") << 0 << int(SetlistSection::Absent) << 0 << false;
        QTest::newRow("empty body") << hex("03") << 0 << int(SetlistSection::Absent) << 0 << false;
        QTest::newRow("pool and setlist") << hex("03") + a + b + hex("04") + b + a + b << 2
                                          << int(SetlistSection::Present) << 3 << true;
        QTest::newRow("setlist song whose id starts with 04 is still read")
            << hex("03") + a + hex("04") + livebytes::song(0x0400000000000000ULL, "X", "1:00") << 1
            << int(SetlistSection::Present) << 1 << true;
        QTest::newRow("truncated last setlist record keeps the pool")
            << hex("03") + a + hex("04") + b + b.chopped(2) << 1 << int(SetlistSection::Malformed)
            << 0 << true;
        QTest::newRow("setlist name not utf8 keeps the pool")
            << hex("03") + a + hex("04") + livebytes::song(9, "\xff", "1:00") << 1
            << int(SetlistSection::Malformed) << 0 << true;
    }
    void songPool()
    {
        QFETCH(QByteArray, payload);
        QFETCH(int, poolSize);
        QFETCH(int, section);
        QFETCH(int, setlistSize);
        QFETCH(bool, bytesFollow);
        const SongPoolUpdate update = as<SongPoolUpdate>(decodeServerMessage(payload));
        QCOMPARE(update.pool.size(), poolSize);
        QCOMPARE(int(update.setlistSection), section);
        QCOMPARE(update.setlist.size(), setlistSize);
        QCOMPARE(update.setlistBytesFollow, bytesFollow);
    }
    void songPoolFields()
    {
        const QByteArray payload =
            hex("03") + livebytes::song(0x8123456789abcdefULL, "Caf\xc3\xa9", "1:02:03") +
            hex("04") + livebytes::song(0x8123456789abcdefULL, "Caf\xc3\xa9", "");
        const SongPoolUpdate update = as<SongPoolUpdate>(decodeServerMessage(payload));
        const Song expected{0x8123456789abcdefULL, QString::fromUtf8("Caf\xc3\xa9"), "1:02:03"};
        QCOMPARE(update.pool.value(0), expected);
        QCOMPARE(update.setlist.value(0).length, QString());
    }
    void malformedPoolDropsEverything_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("fault");
        const QByteArray a = livebytes::song(0x8000000000000001ULL, "Alpha", "3:00");
        QTest::newRow("id cut") << hex("03") + a.left(5) << int(Fault::Truncated);
        QTest::newRow("name cut") << hex("03") + a.left(12) << int(Fault::Truncated);
        QTest::newRow("length text cut") << hex("03") + a.chopped(1) << int(Fault::Truncated);
        QTest::newRow("missing length byte") << hex("03") + a.left(14) << int(Fault::Truncated);
        QTest::newRow("name not utf8")
            << hex("03") + livebytes::song(1, "\xc3", "1:00") << int(Fault::InvalidUtf8);
        QTest::newRow("length not utf8")
            << hex("03") + livebytes::song(1, "A", "\xfe") << int(Fault::InvalidUtf8);
    }
    void malformedPoolDropsEverything()
    {
        QFETCH(QByteArray, payload);
        QFETCH(int, fault);
        const Malformed bad = as<Malformed>(decodeServerMessage(payload));
        QCOMPARE(int(bad.type), 3);
        QCOMPARE(int(bad.fault), fault);
    }
    void readSongRecordLeavesOffsetOnFailure()
    {
        const QByteArray bytes = livebytes::song(3, "Name", "2:00");
        qsizetype offset = 0;
        QVERIFY(readSongRecord(bytes, offset).has_value());
        QCOMPARE(offset, bytes.size());
        qsizetype cut = 0;
        Fault fault{};
        QVERIFY(!readSongRecord(bytes.chopped(1), cut, &fault));
        QCOMPARE(cut, qsizetype(0));
        QCOMPARE(fault, Fault::Truncated);
        qsizetype past = bytes.size() + 10;
        QVERIFY(!readSongRecord(bytes, past));
    }

    void framing()
    {
        QCOMPARE(frame("MARQUELL_SERVER").toHex(), (hex("0000000f") + "MARQUELL_SERVER").toHex());
        QCOMPARE(frame(QByteArray(4096, 'x')).left(4), hex("00001000"));
    }
};

QTEST_APPLESS_MAIN(TestLiveLinkCodec)
#include "tst_livelinkcodec.moc"
