// SPDX-License-Identifier: MIT
// The web remote over real sockets against a scripted Live server, then its pure parts.
#include "livebytes.h"
#include "log.h"
#include "qrcode.h"
#include "webaddress.h"
#include "webremoterig.h"

#include <QHostInfo>
#include <QJsonArray>
#include <QTcpServer>
#include <QtTest>

using namespace livebytes;

namespace {

// Pool Intro (3:05) and Outro (4:00); the setlist holds both in that order.
const QByteArray kSongs = song(1, "Intro", "3:05") + song(2, "Outro", "4:00");
const QByteArray kSongData = bytes({3}) + kSongs + bytes({4}) + kSongs;
const QByteArray kStop = bytes({1, 2});
const QByteArray kStopJson = R"({"type":"transport","command":"stop"})";
// Intro's sections: Verse for 30 s, then Chorus for 20 s.
const QByteArray kSections = bytes({11}) + u64(1) + bytes({2}) + u32(0) + u32(30000) +
                             text("Verse") + u32(30000) + u32(20000) + text("Chorus");

QByteArray tempo(quint32 hundredths)
{
    return bytes({8}) + u64(hundredths).sliced(4);
}

QJsonObject json(const char *text)
{
    return QJsonDocument::fromJson(text).object();
}

// What a page holds after applying every message it received.
QJsonObject merged(const QList<QJsonObject> &messages)
{
    QJsonObject state;
    for (const QJsonObject &message : messages)
        for (auto it = message.begin(); it != message.end(); ++it)
            state.insert(it.key(), it.value());
    state.remove(QStringLiteral("type"));
    return state;
}

} // namespace

class TestWebRemoteServer : public QObject
{
    Q_OBJECT

private slots:
    // A taken port falls back to one the system picks, and the log says where the page
    // is. Another site's page is refused before it sees anything. A late browser gets
    // everything at once; after that only what changed.
    void stateOnConnectThenDeltas()
    {
        mlog::Capture log;
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::Any, 0));
        WebRemoteRig rig({}, taken.serverPort());
        QVERIFY(rig.web.usingFallbackPort());
        QVERIFY(rig.web.port() != 0 && rig.web.port() != taken.serverPort());
        QVERIFY(log.contains(QString("🌐 Web remote at %1 (%2)")
                                 .arg(rig.web.addresses().named, rig.web.addresses().numeric)));
        QVERIFY(rig.web.addresses().named.endsWith(QString(".local:%1/").arg(rig.web.port())));
        QVERIFY(rig.start());
        BrowserClient other(QStringLiteral("http://evil.example:%1").arg(rig.web.port()));
        other.open(rig.web.port());
        QTRY_VERIFY(!other.isOpen());
        QVERIFY(other.messages.isEmpty());
        const BrowserClient *early = rig.page.get();
        QTRY_COMPARE(early->messages.size(), 1);
        QCOMPARE(early->messages.first().value("index"), QJsonValue(QJsonValue::Null));
        // Intro plays its Verse and stops after it: the user marked it.
        for (const QByteArray &payload :
             {kSongData, bytes({5, 1}), tempo(12050), bytes({1, 1}), kSections,
              bytes({12, 0, 2, 1, 0}), position(1, 5000, 185000, 0, 3)})
            rig.server.writeFrame(payload);
        QTRY_VERIFY(merged(early->messages).value("position").isObject());

        auto late = rig.browser();
        QVERIFY(late);
        QTRY_COMPARE(late->messages.size(), 1);
        const QJsonObject first = late->messages.first();
        QCOMPARE(first.value("type").toString(), QString("state"));
        QCOMPARE(merged({first}), merged(early->messages));
        // Live has not said the cue mode.
        const QJsonObject expected = json(R"({"live":"up","playing":true,"index":1,"tempo":120.5,
            "cueMode":null,"setTimeLeft":"00:04:00","setlist":[{"id":"1","name":"Intro",
            "length":"3:05"},{"id":"2","name":"Outro","length":"4:00"}],"position":{"song":"1",
            "elapsed":5000,"length":185000,"section":0,"playing":true,"stopsAfter":true,
            "pending":null},"sections":{"song":"1","list":[{"name":"Verse","start":0,
            "length":30000},{"name":"Chorus","start":30000,"length":20000}]},
            "stopAfter":["1"],"stopLocator":[]})");
        for (auto it = expected.begin(); it != expected.end(); ++it)
            QCOMPARE(first.value(it.key()), it.value());
        // A jump waits for the Chorus; a page's reorder keeps Intro's mark before Live answers.
        rig.server.writeFrame(position(1, 5100, 185000, 0, 7, 1));
        QTRY_COMPARE(late->messages.size(), 2);
        QCOMPARE(late->messages.last().value("position")["pending"], QJsonValue(1));
        late->send(R"({"type":"setlist","ids":["2","1"]})");
        QTRY_COMPARE(late->messages.size(), 3);
        QCOMPARE(late->messages.last().keys(), QStringList({"setTimeLeft", "setlist", "type"}));
        late->messages.remove(1, 2);

        rig.server.writeFrame(tempo(12800));
        QTRY_COMPARE(late->messages.size(), 2);
        QCOMPARE(late->messages.last(), json(R"({"type":"update","tempo":128})"));
        // The same tempo again changes nothing the page shows: no message for it.
        rig.server.writeFrame(tempo(12800));
        rig.server.writeFrame(bytes({5, 0}));
        QTRY_COMPARE(late->messages.size(), 3);
        QCOMPARE(late->messages.last(),
                 json(R"({"type":"update","index":0,"setTimeLeft":"00:07:05"})"));
        // Past the end the whole set counts, as from the start: only the index changes.
        rig.server.writeFrame(bytes({5, 9}));
        QTRY_COMPARE(late->messages.size(), 4);
        QCOMPARE(late->messages.last(), json(R"({"type":"update","index":9})"));
        // A length that cannot be read counts nothing; an id past 2^53 stays exact.
        const QByteArray odd =
            song(0xF123456789ABCDEFull, "A", "about 4:00") + song(2, "B", "1:00:00");
        rig.server.writeFrame(bytes({3}) + odd + bytes({4}) + odd);
        QTRY_COMPARE(late->messages.size(), 5);
        const QJsonObject now = merged(late->messages);
        QCOMPARE(now.value("setTimeLeft").toString(), QString("01:00:00"));
        QCOMPARE(now.value("pool")[0]["id"].toString(), QString("17375808098319191535"));

        rig.server.closeClients();
        QTRY_COMPARE(late->messages.size(), 6);
        // The page must not run the song's clock on for a Live that is gone.
        QCOMPARE(late->messages.last().keys(),
                 QStringList({"live", "playing", "position", "type"}));
        QCOMPARE(late->messages.last().value("position")["playing"], QJsonValue(false));
    }

    // What a page sends and what reaches Live before the next stop. A refused command
    // costs nothing; a page that sends what it must not is dropped alone, and the other
    // page still reaches Live. The burst goes through, the message after it does not.
    void pageMessages_data()
    {
        QTest::addColumn<QByteArrayList>("sent"); // text messages; an empty one: binary
        QTest::addColumn<QByteArray>("toLive");
        QTest::addColumn<bool>("dropped");
        const auto row = [](const char *name, const QByteArrayList &sent,
                            const QByteArray &toLive = {}, bool dropped = false) {
            QTest::newRow(name) << sent << toLive << dropped;
        };
        row("next", {R"({"type":"transport","command":"next"})"}, bytes({1, 4}));
        row("previous", {R"({"type":"transport","command":"previous"})"}, bytes({1, 3}));
        row("select", {R"({"type":"select","index":1})"}, bytes({3, 1}));
        row("cue end of song", {R"({"type":"cueMode","mode":2})"}, bytes({7, 2}));
        row("reorder", {R"({"type":"setlist","ids":["2","1"]})"},
            bytes({4}) + u64(2) + text("Outro") + u64(1) + text("Intro"));
        row("empty setlist", {R"({"type":"setlist","ids":[]})"}, bytes({4}));
        row("section", {R"({"type":"section","song":"1","index":1})"},
            bytes({11}) + u64(1) + bytes({1}));
        row("stop after", {R"({"type":"stopAfter","song":"2","on":true})"},
            bytes({12}) + u64(2) + bytes({1}));
        row("no stop after", {R"({"type":"stopAfter","song":"1","on":false})"},
            bytes({12}) + u64(1) + bytes({0}));
        row("section past the end", {R"({"type":"section","song":"1","index":2})"});
        row("section of a song not playing", {R"({"type":"section","song":"2","index":0})"});
        row("stop after a song not in the setlist",
            {R"({"type":"stopAfter","song":"3","on":true})"});
        row("stop after as a number", {R"({"type":"stopAfter","song":"1","on":1})"});
        row("select past the end", {R"({"type":"select","index":2})"});
        row("select between rows", {R"({"type":"select","index":0.5})"});
        row("cue mode 3", {R"({"type":"cueMode","mode":3})"});
        row("unknown command", {R"({"type":"transport","command":"rewind"})"});
        row("unknown song", {R"({"type":"setlist","ids":["2","99"]})"});
        row("id as a number", {R"({"type":"setlist","ids":[2]})"});
        row("not JSON", {"{\"type\":"}, {}, true);
        row("JSON array", {"[1]"}, {}, true);
        row("binary", {{}}, {}, true);
        row("oversize", {"{\"type\":\"" + QByteArray(20000, 'x') + "\"}"}, {}, true);
        row("past the rate", QByteArrayList(6, kStopJson), kStop.repeated(5), true);
    }
    void pageMessages()
    {
        QFETCH(QByteArrayList, sent);
        QFETCH(QByteArray, toLive);
        QFETCH(bool, dropped);
        WebRemoteRig rig({16384, 0.5, 5, 5});
        QVERIFY(rig.start());
        rig.server.writeFrame(kSongData);
        rig.server.writeFrame(kSections);
        QTRY_VERIFY(merged(rig.page->messages).value("sections").isObject());
        auto other = rig.browser();
        QVERIFY(other);
        for (const QByteArray &text : sent) {
            if (text.isEmpty())
                rig.page->socket.sendBinaryMessage("\x01\x04");
            else
                rig.page->send(text);
        }
        if (dropped) {
            QTRY_VERIFY(!rig.page->isOpen());
            QCOMPARE(rig.web.browserCount(), 1);
        }
        (dropped ? other : rig.page)->send(kStopJson);
        QVERIFY(rig.liveReceived(toLive + kStop)); // and nothing else before it
        QCOMPARE(rig.page->isOpen(), !dropped);
        rig.server.writeFrame(tempo(9000));
        QTRY_COMPARE(other->messages.last(), json(R"({"type":"update","tempo":90})"));
    }

    // The first guess is wrong in each row's way.
    void pin_data()
    {
        QTest::addColumn<QByteArray>("wrong");
        QTest::newRow("other digits") << QByteArray(R"("1234")");
        QTest::newRow("empty") << QByteArray(R"("")");
        QTest::newRow("a prefix of the right one") << QByteArray(R"("432")");
        QTest::newRow("the right one as a number") << QByteArray("4321");
    }
    void pin()
    {
        QFETCH(QByteArray, wrong);
        WebRemoteRig rig({16384, 20, 40, 2, std::chrono::milliseconds(300)});
        rig.web.setPin("4321");
        QVERIFY(rig.start());
        BrowserClient *page = rig.page.get();
        QTRY_COMPARE(page->messages, (QList<QJsonObject>{json(R"({"type":"pin"})")}));
        page->send(R"({"type":"transport","command":"next"})"); // not yet allowed
        page->send(R"({"type":"auth","pin":)" + wrong + "}");
        page->send(R"({"type":"auth","pin":"4321"})");
        QTRY_COMPARE(page->messages.size(), 3);
        QCOMPARE(page->messages.at(1), json(R"({"type":"pin","wrong":true})"));
        QCOMPARE(page->messages.at(2).value("type").toString(), QString("state"));
        page->send(kStopJson);
        QVERIFY(rig.liveReceived(kStop)); // the "next" before the PIN never went

        auto guesser = rig.browser();
        QVERIFY(guesser);
        guesser->send(R"({"type":"auth","pin":"0000"})");
        guesser->send(R"({"type":"auth","pin":"1111"})");
        QTRY_VERIFY(!guesser->isOpen());
        // The right PIN above wiped the address's wrong one: the first guess here is the
        // first that counts.
        QCOMPARE(guesser->messages, (QList<QJsonObject>{json(R"({"type":"pin"})"),
                                                        json(R"({"type":"pin","wrong":true})")}));

        // Reconnecting does not give the address new guesses until the wait is over;
        // the page already in keeps working.
        BrowserClient again(rig.ownOrigin());
        again.open(rig.web.port());
        QTRY_VERIFY(!again.isOpen());
        QVERIFY(again.messages.isEmpty());
        QVERIFY(page->isOpen());
        QTest::qWait(300);
        auto later = rig.browser();
        QVERIFY(later);
        QTRY_COMPARE(later->messages, (QList<QJsonObject>{json(R"({"type":"pin"})")}));
    }

    // The pure parts: which pages may drive the show, and the QR code of its address.
    void originAllowed_data()
    {
        QTest::addColumn<QString>("origin");
        QTest::addColumn<QString>("requestUrl");
        QTest::addColumn<bool>("allowed");
        const auto row = [](const char *name, const QString &origin, const QString &url,
                            bool allowed) {
            QTest::newRow(name) << origin << url << allowed;
        };
        const QString host = QHostInfo::localHostName().section('.', 0, 0);
        const QString ours = "ws://127.0.0.1:51516/ws";
        row("numeric", "http://127.0.0.1:51516", ours, true);
        row("by name", "http://" + host + ".local:51516", "ws://" + host + ".local:51516/ws", true);
        row("IPv6 loopback", "http://[::1]:51516", "ws://[::1]:51516/ws", true);
        row("default port", "http://localhost", "ws://localhost:80/ws", true);
        // Another site's name pointed at this machine: same origin, but not our name.
        row("rebound name", "http://evil.example:51516", "ws://evil.example:51516/ws", false);
        row("page on another port", "http://127.0.0.1:8080", ours, false);
        row("another host", "http://10.9.8.7:51516", ours, false);
        row("https page", "https://127.0.0.1:51516", ours, false);
        row("opaque origin", "null", ours, false);
        row("no origin", "", ours, false);
    }
    void originAllowed()
    {
        QFETCH(QString, origin);
        QFETCH(QString, requestUrl);
        QFETCH(bool, allowed);
        QCOMPARE(webaddress::originAllowed(origin, QUrl(requestUrl)), allowed);
    }

    // Every QR code has three 7x7 finder squares in its corners with a light ring inside,
    // and its format information where readers look: catches a transposed or shifted grid.
    void qrFinderPatterns()
    {
        const std::optional<QrCode> code = QrCode::encode("http://192.168.178.20:51516/");
        QVERIFY(code);
        const int n = code->size();
        for (const auto &[x0, y0] : {std::pair{0, 0}, {n - 7, 0}, {0, n - 7}}) {
            for (int i = 0; i < 7; ++i) {
                QVERIFY(code->isDark(x0 + i, y0) && code->isDark(x0 + i, y0 + 6));
                QVERIFY(code->isDark(x0, y0 + i) && code->isDark(x0 + 6, y0 + i));
            }
            QVERIFY(!code->isDark(x0 + 1, y0 + 1) && code->isDark(x0 + 3, y0 + 3));
        }
        // The format information beside the top-left finder, bit 0 first, is a codeword
        // of level M: masked with 0x5412, its top bits 00 and a multiple of 0x537.
        // Bits 0-7 run down column 8, bits 8-14 leftwards along row 8, skipping the timing
        // row and column 6.
        int word = 0;
        for (int bit = 0; bit < 15; ++bit) {
            const int along = bit < 8 ? (bit < 6 ? bit : bit + 1) : (bit == 8 ? 7 : 14 - bit);
            word |= int(bit < 8 ? code->isDark(8, along) : code->isDark(along, 8)) << bit;
        }
        word ^= 0x5412;
        QCOMPARE(word >> 13, 0);
        for (int bit = 14; bit >= 10; --bit)
            word ^= (word >> bit & 1) ? 0x537 << (bit - 10) : 0;
        QCOMPARE(word, 0);
        const QStringList lines = code->toTerminalText().split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), (n + 4 + 1) / 2); // two rows a line, two-module quiet zone
        QCOMPARE(lines.first().size(), n + 4);
    }
};

QTEST_GUILESS_MAIN(TestWebRemoteServer)
#include "tst_webremoteserver.moc"
