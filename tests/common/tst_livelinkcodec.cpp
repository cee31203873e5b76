// SPDX-License-Identifier: MIT
#include "framereader.h"
#include "livebytes.h"
#include "livelinkcodec.h"
#include "serverportfile.h"
#include "temphome.h"

#include <QDir>
#include <QtEndian>
#include <QtTest>

using namespace livelink;
using livebytes::song;

namespace {

const auto hex = &QByteArray::fromHex;

QString names(const QList<Song> &songs)
{
    QStringList out;
    for (const Song &s : songs)
        out << QStringLiteral("%1:%2:%3").arg(s.id, 0, 16).arg(s.name, s.length);
    return out.join(QLatin1Char(','));
}

template <class... Ts> struct Overloaded : Ts...
{
    using Ts::operator()...;
};
template <class... Ts> Overloaded(Ts...) -> Overloaded<Ts...>;

// One line per decoded message, so a table row states the whole result.
QString describe(const ServerMessage &message)
{
    const auto map = [](const MidiMap &m) {
        QStringList out;
        for (const MidiMapRecord &r : m.records)
            out << r.name +
                       QStringLiteral("/%1/%2/%3").arg(r.msgType).arg(r.channel).arg(r.identifier);
        return QStringLiteral("map ") + out.join(QLatin1Char(','));
    };
    const auto pool = [](const SongPoolUpdate &u) {
        return QStringLiteral("pool %1 | %2 %3 | %4")
            .arg(names(u.pool), QString::number(int(u.setlistSection)),
                 QString::number(u.setlistBytesFollow), names(u.setlist));
    };
    return std::visit(
        Overloaded{
            map,
            pool,
            [](const PlayingState &p) { return QStringLiteral("playing %1").arg(p.value); },
            [](const Notice &) { return QStringLiteral("notice"); },
            [](const SelectedIndex &s) { return QStringLiteral("index %1").arg(s.index); },
            [](const PingReply &p) { return QStringLiteral("ping %1").arg(p.clock, 0, 16); },
            [](const CueMode &c) { return QStringLiteral("cue %1").arg(c.mode); },
            [](const Tempo &t) { return QStringLiteral("tempo %1").arg(double(t.bpm())); },
            [](const SongPosition &p) {
                return QStringLiteral("position %1 %2/%3 s%4 f%5 p%6")
                    .arg(p.songId, 0, 16)
                    .arg(p.elapsedMs)
                    .arg(p.lengthMs)
                    .arg(p.section)
                    .arg(p.state)
                    .arg(p.pendingSection);
            },
            [](const Sections &s) {
                QStringList out;
                for (const Section &x : s.sections)
                    out << QStringLiteral("%1@%2+%3").arg(x.name).arg(x.startMs).arg(x.lengthMs);
                return QStringLiteral("sections %1 ").arg(s.songId, 0, 16) + out.join(',');
            },
            [](const SetlistMarks &m) {
                QStringList out;
                for (quint8 mark : m.entries)
                    out << QString::number(mark);
                return QStringLiteral("marks ") + out.join(',');
            },
            [](const UnknownMessage &u) { return QStringLiteral("unknown %1").arg(u.type); },
            [](const Malformed &m) {
                return QStringLiteral("malformed %1 fault %2").arg(m.type).arg(int(m.fault));
            },
        },
        message);
}

} // namespace

class TestLiveLinkCodec : public QObject
{
    Q_OBJECT

private slots:
    void identity_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<bool>("valid");
        QTest::newRow("exact") << QByteArray("MARQUELL_SERVER") << true;
        QTest::newRow("crlf and spaces") << QByteArray("  MARQUELL_SERVER\r\n") << true;
        QTest::newRow("tab before") << QByteArray("\tMARQUELL_SERVER") << true;
        QTest::newRow("other trailing char") << QByteArray("MARQUELL_SERVERx") << false;
        QTest::newRow("client token") << QByteArray("MARQUELL_CLIENT") << false;
        QTest::newRow("lower case") << QByteArray("marquell_server") << false;
        QTest::newRow("invalid utf8") << QByteArray("MARQUELL_SERVER\xff") << false;
        QTest::newRow("empty") << QByteArray() << false;
    }
    void identity()
    {
        QFETCH(QByteArray, payload);
        QFETCH(bool, valid);
        QCOMPARE(isServerIdentity(payload), valid);
    }

    void clientMessages_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("expected");
        // The application's byte messages are pinned by tst_liveclient's senders table.
        QTest::newRow("identity reply, unframed")
            << clientIdentityReply() << hex("") + kClientIdentity;
        QTest::newRow("ping") << encodePing(0x0102030405060708ULL) << hex("060102030405060708");
        QTest::newRow("empty setlist") << encodeSetlist({}) << hex("04");
        QTest::newRow("setlist: id and name, repeats kept")
            << encodeSetlist({Song{7, "Intro", "3:05"}, Song{7, "Intro", "3:05"}})
            << hex("04") + song(7, "Intro", "").chopped(1) + song(7, "Intro", "").chopped(1);
        QTest::newRow("frame") << frame("MARQUELL_SERVER") << hex("0000000f") + "MARQUELL_SERVER";
        // A name over 255 bytes used to leave only the id behind, corrupting the stream;
        // 255 bytes would split the last é.
        const QChar e(u'\u00e9');
        QTest::newRow("setlist: long name cut at a character")
            << encodeSetlist({Song{5, QString(128, e), ""}})
            << hex("04") + song(5, QString(127, e).toUtf8(), "").chopped(1);
        QTest::newRow("subscribe") << encodeSubscribe(SongPositionFeature) << hex("0a01");
        QTest::newRow("jump to section")
            << encodeJumpToSection(0x8000000000000009ULL, 2) << hex("0b800000000000000902");
        QTest::newRow("stop after")
            << encodeSetStopAfter(0x8000000000000009ULL, true) << hex("0c800000000000000901");
        QTest::newRow("position, round trip")
            << encodeSongPosition({9, 0x10203, 0x40506, 1, 5, kNoSection})
            << hex("0a0000000000000009000102030004050601"
                   "05ff");
        QTest::newRow("marks, round trip")
            << encodeSetlistMarks({{0, 1, 3}}) << hex("0c0003000103");
        QTest::newRow("sections, round trip") << encodeSections({7, {{"Verse", 0, 1000}}})
                                              << hex("0b000000000000000701"
                                                     "00000000000003e8") +
                                                     hex("05") + "Verse";
        QTest::newRow("prefix of a long ASCII text")
            << utf8Prefix(QString(300, u'a'), 255) << QByteArray(255, 'a');
        QTest::newRow("prefix shorter than a character")
            << utf8Prefix(QString::fromUtf8("\xf0\x9f\x8e\xb8"), 3) << QByteArray();
    }
    void clientMessages()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, expected);
        QCOMPARE(bytes.toHex(' '), expected.toHex(' '));
    }

    void serverMessages_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("decoded");
        const QByteArray a = song(0x8000000000000001ULL, "Alpha", "3:00");
        const QByteArray b = song(0x8000000000000002ULL, "Bravo", "4:30");
        const QString pa = "8000000000000001:Alpha:3:00", pb = "8000000000000002:Bravo:4:30";
        const QByteArray rec = livebytes::mapRecord("abc", 1, 2, 5);
        auto row = [](const char *name, const QByteArray &payload, const QString &decoded) {
            QTest::newRow(name) << payload << decoded;
        };
        // fixed sizes: extra bytes ignored, short bodies refused
        row("playing, extra byte", hex("0101ff"), "playing 1");
        row("playing 3 means nothing", hex("0103"), "playing 3");
        row("notice", hex("02"), "notice");
        row("index 255", hex("05ff"), "index 255");
        row("ping", hex("06ffeeddccbbaa9988"), "ping ffeeddccbbaa9988");
        row("cue mode", hex("0702"), "cue 2");
        row("tempo in hundredths", hex("0800002f12"), "tempo 120.5");
        row("empty", hex(""), "malformed 0 fault 0");
        row("playing without value", hex("01"), "malformed 1 fault 0");
        row("index without value", hex("05"), "malformed 5 fault 0");
        row("ping reply of 8 bytes", hex("0600000000000000"), "malformed 6 fault 0");
        row("cue without value", hex("07"), "malformed 7 fault 0");
        row("tempo of 4 bytes", hex("08000030"), "malformed 8 fault 0");
        row("4 from the server", hex("04"), "unknown 4");
        row("9 from the server", hex("09"), "unknown 9");
        // what subscribers get: position, the song's sections, the setlist's marks
        row("position", hex("0a8000000000000001000003e800002710") + hex("0107ff"),
            "position 8000000000000001 1000/10000 s1 f7 p255");
        row("position one byte short", hex("0a8000000000000001000003e800002710") + hex("0107"),
            "malformed 10 fault 0");
        row("sections",
            hex("0b800000000000000102") + hex("00000000000007d0") + hex("05") + "Verse" +
                hex("000007d0000003e8") + hex("00"),
            "sections 8000000000000001 Verse@0+2000,@2000+1000");
        row("no sections", hex("0b000000000000000000"), "sections 0 ");
        row("sections without count", hex("0b0000000000000000"), "malformed 11 fault 0");
        row("section name runs past end",
            hex("0b000000000000000001") + hex("0000000000000001") + hex("09") + "ab",
            "malformed 11 fault 1");
        row("section count above records",
            hex("0b000000000000000002") + hex("0000000000000001") + hex("00"),
            "malformed 11 fault 1");
        row("section name not utf8",
            hex("0b000000000000000001") + hex("0000000000000001") + hex("01ff"),
            "malformed 11 fault 2");
        row("marks", hex("0c0003010200"), "marks 1,2,0");
        row("no marks", hex("0c0000"), "marks ");
        row("marks cut", hex("0c000301"), "malformed 12 fault 1");
        row("marks without count", hex("0c00"), "malformed 12 fault 0");
        row("255", hex("ff"), "unknown 255");
        // MIDI map: records in order, a record's bounds checked
        row("map, no records", hex("00"), "map ");
        row("map, two records", hex("00") + rec + livebytes::mapRecord("play", 0, 15, 0x140),
            "map abc/1/2/5,play/0/15/320");
        row("map one byte short", hex("00") + rec.chopped(1), "malformed 0 fault 1");
        row("map name runs past end", hex("0009") + "abc", "malformed 0 fault 1");
        row("map trailing length byte", hex("00") + rec + hex("04"), "malformed 0 fault 1");
        row("map name not utf8", hex("0001ff00000001"), "malformed 0 fault 2");
        // song pool, then an optional setlist after the 0x04 separator
        row("pool only", hex("03") + a + b, "pool " + pa + "," + pb + " | 0 0 | ");
        row("pool and bare separator", hex("03") + a + hex("04"), "pool " + pa + " | 0 0 | ");
        row("empty pool", hex("0304"), "pool  | 0 0 | ");
        row("pool and setlist", hex("03") + a + hex("04") + b + a,
            "pool " + pa + " | 1 1 | " + pb + "," + pa);
        row("setlist id starting with 04",
            hex("03") + hex("04") + song(0x0400000000000000ULL, "X", ""),
            "pool  | 1 1 | 400000000000000:X:");
        row("setlist record cut keeps the pool", hex("03") + a + hex("04") + b + b.chopped(2),
            "pool " + pa + " | 2 1 | ");
        row("setlist name not utf8 keeps the pool", hex("03") + a + hex("04") + song(9, "\xff", ""),
            "pool " + pa + " | 2 1 | ");
        row("pool id cut", hex("03") + a.left(5), "malformed 3 fault 1");
        row("pool name cut", hex("03") + a.left(12), "malformed 3 fault 1");
        row("pool length byte missing", hex("03") + a.left(14), "malformed 3 fault 1");
        row("pool length text cut", hex("03") + a.chopped(1), "malformed 3 fault 1");
        row("pool name not utf8", hex("03") + song(1, "\xc3", "1:00"), "malformed 3 fault 2");
        row("pool length not utf8", hex("03") + song(1, "A", "\xfe"), "malformed 3 fault 2");
    }
    void serverMessages()
    {
        QFETCH(QByteArray, payload);
        QFETCH(QString, decoded);
        QCOMPARE(describe(decodeServerMessage(payload)), decoded);
        // The daemon only walks a map's structure: text is not decoded, bounds are.
        if (payload.startsWith('\0'))
            QCOMPARE(isWellFormedMidiMap(payload), !decoded.endsWith("fault 1"));
        // A pool record that cannot be read leaves the reader's offset where it was.
        if (payload.startsWith('\x03') && decoded.startsWith("malformed")) {
            qsizetype offset = 1, past = payload.size() + 1;
            QVERIFY(!readSongRecord(payload, offset));
            QVERIFY(!readSongRecord(payload, past));
            QCOMPARE(offset, qsizetype(1));
        }
    }

    // One byte at a time splits every length prefix and payload at every position.
    void framesWhateverTheChunking_data()
    {
        QTest::addColumn<int>("chunk");
        for (int chunk : {1, 3, 4, 5, 4099, 100000})
            QTest::addRow("chunks of %d", chunk) << chunk;
    }
    void framesWhateverTheChunking()
    {
        QFETCH(int, chunk);
        const QList<QByteArray> payloads{"MARQUELL_SERVER", QByteArray::fromHex("0101"),
                                         QByteArray(4096, '\x03'), QByteArray(1, '\x02')};
        QByteArray bytes;
        for (const QByteArray &p : payloads)
            bytes += livelink::frame(p);
        FrameReader reader;
        QList<QByteArray> frames;
        for (qsizetype i = 0; i < bytes.size(); i += chunk) {
            reader.feed(QByteArrayView(bytes).sliced(i, qMin<qsizetype>(chunk, bytes.size() - i)));
            for (FrameReader::Result r = reader.next(); r.status == FrameReader::Status::Frame;
                 r = reader.next())
                frames.append(r.payload);
        }
        QCOMPARE(frames, payloads);
        QCOMPARE(reader.buffered(), qsizetype(0));
    }

    void badFrameLengths_data()
    {
        QTest::addColumn<quint32>("length");
        QTest::newRow("zero") << 0u;
        QTest::newRow("4097") << 4097u;
        QTest::newRow("huge") << 0xffffffffu;
    }
    // A bad length leaves the stream out of step: the reader must not carry on until cleared.
    void badFrameLengths()
    {
        QFETCH(quint32, length);
        char prefix[4];
        qToBigEndian(length, prefix);
        FrameReader reader;
        reader.feed(livelink::frame("A") + QByteArray(prefix, 4) + livelink::frame("\x01\x01"));
        QCOMPARE(reader.next().payload, QByteArray("A"));
        const FrameReader::Result r = reader.next();
        QCOMPARE(r.status, FrameReader::Status::BadLength);
        QCOMPARE(r.length, length);
        reader.feed(livelink::frame("\x01\x02"));
        QCOMPARE(reader.next().status, FrameReader::Status::BadLength);
        reader.clear();
        reader.feed(livelink::frame("\x01\x02"));
        QCOMPARE(reader.next().payload, QByteArray("\x01\x02"));
    }

    // TempHome writes where the Remote Script does, so a wrong path fails every row.
    void serverPortFile_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file; "/": a folder in its place
        QTest::addColumn<int>("appPort");        // -1: none, the caller uses 6000
        QTest::addColumn<int>("daemonPort");
        auto row = [](const char *name, const QByteArray &content, int app, int daemon) {
            QTest::newRow(name) << content << app << daemon;
        };
        row("6100", "{\"port\": 6100}", 6100, 6100);
        row("other members ignored", "{\"pid\": 3, \"port\": 6001}", 6001, 6001);
        row("integral float", "{\"port\": 6100.0}", 6100, 6100);
        row("zero", "{\"port\": 0}", -1, 0);
        row("65535", "{\"port\": 65535}", 65535, 65535);
        row("70000", "{\"port\": 70000}", -1, 6000);
        row("negative", "{\"port\": -1}", -1, 6000);
        row("fraction", "{\"port\": 6100.5}", -1, 6000);
        row("text", "{\"port\": \"6100\"}", -1, 6000);
        row("missing member", "{\"Port\": 6100}", -1, 6000);
        row("array at top", "[6100]", -1, 6000);
        row("not json", "port=6100", -1, 6000);
        row("huge number", "{\"port\": 1e300}", -1, 6000);
        // Valid JSON within the first 64 KiB: only the size limit refuses it.
        row("oversized", "{\"port\": 6100}" + QByteArray(70000, ' '), -1, 6000);
        row("no file", QByteArray(), -1, 6000);
        row("a folder in its place", "/", -1, 6000);
    }
    void serverPortFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, appPort);
        QFETCH(int, daemonPort);
        TempHome home;
        const QString path = serverportfile::serverConfigPath();
        if (content == "/")
            QVERIFY(QDir().mkpath(path));
        else if (!content.isNull())
            home.writeServerJson(content);
        QCOMPARE(serverportfile::readServerPort(path).value_or(-1), appPort);
        QCOMPARE(int(serverportfile::readDaemonServerPort(path)), daemonPort);
    }
};

QTEST_GUILESS_MAIN(TestLiveLinkCodec)
#include "tst_livelinkcodec.moc"
