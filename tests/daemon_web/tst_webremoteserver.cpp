// SPDX-License-Identifier: MIT
// The web remote over real sockets: a scripted Live server, the daemon's Live side
// and WebSocket browsers.
#include "livebytes.h"
#include "log.h"
#include "webremoterig.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>
#include <QtTest>

using namespace livebytes;

namespace {

// Pool Intro (3:05) and Outro (4:00); the setlist holds both in that order.
QByteArray songPayload()
{
    const QByteArray songs = song(1, "Intro", "3:05") + song(2, "Outro", "4:00");
    return bytes({3}) + songs + bytes({4}) + songs;
}

QByteArray tempo(quint32 hundredths)
{
    return bytes({8, int(hundredths >> 24), int(hundredths >> 16) & 0xFF,
                  int(hundredths >> 8) & 0xFF, int(hundredths & 0xFF)});
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

QStringList setlistNames(const QJsonObject &state)
{
    QStringList names;
    for (const QJsonValue &song : state.value("setlist").toArray())
        names.append(song.toObject().value("name").toString());
    return names;
}

bool logged(const mlog::Capture &log, const QString &part)
{
    const QStringList lines = log.messages();
    return std::any_of(lines.cbegin(), lines.cend(), [&](const QString &line) {
        return line.startsWith("Web remote: ") && line.contains(part);
    });
}

const QByteArray kStop = bytes({1, 2});

} // namespace

class TestWebRemoteServer : public QObject
{
    Q_OBJECT

private slots:
    // A late browser gets everything at once; after that only what changed.
    void stateOnConnectThenDeltas()
    {
        WebRemoteRig rig;
        QVERIFY(rig.validateLive());
        auto early = rig.browser();
        QVERIFY(early);
        rig.server.writeFrame(songPayload());
        rig.server.writeFrame(bytes({5, 1}));
        rig.server.writeFrame(tempo(12050));
        rig.server.writeFrame(bytes({1, 1}));
        QTRY_VERIFY(merged(early->messages).value("playing").toBool());

        auto late = rig.browser();
        QVERIFY(late);
        QTRY_COMPARE(late->messages.size(), 1);
        const QJsonObject first = late->messages.first();
        QCOMPARE(first.value("type").toString(), QString("state"));
        QCOMPARE(merged({first}), merged(early->messages));
        QCOMPARE(setlistNames(first), (QStringList{"Intro", "Outro"}));
        // Live has not said the cue mode.
        const QJsonObject expected = json(R"({"live":"up","playing":true,"index":1,"tempo":120.5,
                                              "cueMode":null,"setTimeLeft":"00:04:00"})");
        for (auto it = expected.begin(); it != expected.end(); ++it)
            QCOMPARE(first.value(it.key()), it.value());

        rig.server.writeFrame(tempo(12800));
        QTRY_COMPARE(late->messages.size(), 2);
        QCOMPARE(late->messages.last(), json(R"({"type":"update","tempo":128})"));
        // The same tempo again changes nothing the page shows: no message for it.
        rig.server.writeFrame(tempo(12800));
        rig.server.writeFrame(bytes({5, 0}));
        QTRY_COMPARE(late->messages.size(), 3);
        QCOMPARE(late->messages.last(),
                 json(R"({"type":"update","index":0,"setTimeLeft":"00:07:05"})"));

        rig.server.closeClients();
        QTRY_COMPARE(late->messages.size(), 4);
        QCOMPARE(late->messages.last(), json(R"({"type":"update","live":"down","playing":false})"));
    }

    void commandsReachLive_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("toLive"); // empty: refused, nothing reaches Live
        const QByteArray reordered = bytes({4}) + u64(2) + text("Outro") + u64(1) + text("Intro");
        QTest::newRow("next") << QByteArray(R"({"type":"transport","command":"next"})")
                              << bytes({1, 4});
        QTest::newRow("previous") << QByteArray(R"({"type":"transport","command":"previous"})")
                                  << bytes({1, 3});
        QTest::newRow("select") << QByteArray(R"({"type":"select","index":1})") << bytes({3, 1});
        QTest::newRow("cue end of song")
            << QByteArray(R"({"type":"cueMode","mode":2})") << bytes({7, 2});
        QTest::newRow("reorder") << QByteArray(R"({"type":"setlist","ids":["2","1"]})")
                                 << reordered;
        QTest::newRow("empty setlist")
            << QByteArray(R"({"type":"setlist","ids":[]})") << bytes({4});
        QTest::newRow("select past the end")
            << QByteArray(R"({"type":"select","index":2})") << QByteArray();
        QTest::newRow("select between rows")
            << QByteArray(R"({"type":"select","index":0.5})") << QByteArray();
        QTest::newRow("cue mode 3") << QByteArray(R"({"type":"cueMode","mode":3})") << QByteArray();
        QTest::newRow("unknown command")
            << QByteArray(R"({"type":"transport","command":"rewind"})") << QByteArray();
        QTest::newRow("unknown song")
            << QByteArray(R"({"type":"setlist","ids":["2","99"]})") << QByteArray();
        QTest::newRow("id as a number")
            << QByteArray(R"({"type":"setlist","ids":[2]})") << QByteArray();
    }
    void commandsReachLive()
    {
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, toLive);
        WebRemoteRig rig;
        QVERIFY(rig.validateLive());
        auto page = rig.browser();
        QVERIFY(page);
        rig.server.writeFrame(songPayload());
        QTRY_COMPARE(setlistNames(merged(page->messages)).size(), 2);
        page->sendText(QString::fromUtf8(command));
        if (toLive.isEmpty()) {
            page->send(json(R"({"type":"transport","command":"stop"})"));
            QVERIFY(rig.liveReceived(kStop)); // and nothing before it
            QVERIFY(page->isOpen());          // a refused command does not cost the connection
        } else {
            QVERIFY(rig.liveReceived(toLive));
        }
    }

    void badInputDropsOnlyThatSocket_data()
    {
        QTest::addColumn<QByteArray>("text"); // sent as a text message; empty: binary
        QTest::addColumn<QString>("logged");
        QTest::newRow("not JSON") << QByteArray("{\"type\":") << "bad JSON";
        QTest::newRow("JSON array") << QByteArray("[1]") << "bad JSON";
        QTest::newRow("binary") << QByteArray() << "binary message";
        QTest::newRow("oversize") << ("{\"type\":\"" + QByteArray(20000, 'x') + "\"}")
                                  << "over 16384 bytes";
    }
    void badInputDropsOnlyThatSocket()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, logged);
        mlog::Capture log;
        WebRemoteRig rig;
        QVERIFY(rig.validateLive());
        auto bad = rig.browser();
        auto good = rig.browser();
        QVERIFY(bad && good);
        if (text.isEmpty())
            bad->socket.sendBinaryMessage("\x01\x04");
        else
            bad->sendText(QString::fromUtf8(text));
        QTRY_VERIFY(!bad->isOpen());
        QVERIFY(::logged(log, logged));
        QCOMPARE(rig.web.browserCount(), 1);
        rig.server.writeFrame(tempo(9000));
        QTRY_COMPARE(good->messages.last(), json(R"({"type":"update","tempo":90})"));
    }

    void origin_data()
    {
        QTest::addColumn<QString>("origin"); // %1: the server's port
        QTest::addColumn<bool>("allowed");
        QTest::newRow("the daemon's page") << "http://127.0.0.1:%1" << true;
        QTest::newRow("no origin") << "" << false;
        QTest::newRow("another site") << "http://evil.example:%1" << false;
    }
    void origin()
    {
        QFETCH(QString, origin);
        QFETCH(bool, allowed);
        mlog::Capture log;
        WebRemoteRig rig;
        BrowserClient page(origin.contains("%1") ? origin.arg(rig.web.port()) : origin);
        page.open(rig.web.port());
        if (allowed) {
            QTRY_COMPARE(page.messages.size(), 1);
            QCOMPARE(page.messages.first().value("type").toString(), QString("state"));
        } else {
            QTRY_VERIFY(!page.isOpen());
            QVERIFY(page.messages.isEmpty());
            QVERIFY(logged(log, "refused a connection from origin"));
        }
    }

    // The burst goes through; the message after it never reaches Live.
    void rateBound()
    {
        mlog::Capture log;
        WebRemoteRig rig({16384, 0.5, 5, 5});
        QVERIFY(rig.validateLive());
        auto page = rig.browser();
        QVERIFY(page);
        for (int i = 0; i < 6; ++i)
            page->send(json(R"({"type":"transport","command":"stop"})"));
        QTRY_VERIFY(!page->isOpen());
        QVERIFY(logged(log, "too many messages"));
        QVERIFY(rig.liveReceived(kStop.repeated(5)));
    }

    void pin()
    {
        WebRemoteRig rig({16384, 20, 40, 2, std::chrono::milliseconds(300)});
        rig.web.setPin("4321");
        QVERIFY(rig.validateLive());
        auto page = rig.browser();
        QVERIFY(page);
        QTRY_COMPARE(page->messages, (QList<QJsonObject>{json(R"({"type":"pin"})")}));
        page->send(json(R"({"type":"transport","command":"next"})")); // not yet allowed
        page->send(json(R"({"type":"auth","pin":"1234"})"));
        QTRY_COMPARE(page->messages.size(), 2);
        QCOMPARE(page->messages.last(), json(R"({"type":"pin","wrong":true})"));
        page->send(json(R"({"type":"auth","pin":"4321"})"));
        QTRY_COMPARE(page->messages.size(), 3);
        QCOMPARE(page->messages.last().value("type").toString(), QString("state"));
        page->send(json(R"({"type":"transport","command":"stop"})"));
        QVERIFY(rig.liveReceived(kStop)); // the "next" before the PIN never went

        auto guesser = rig.browser();
        QVERIFY(guesser);
        guesser->send(json(R"({"type":"auth","pin":"0000"})"));
        guesser->send(json(R"({"type":"auth","pin":"1111"})"));
        QTRY_VERIFY(!guesser->isOpen());
        for (const QJsonObject &message : guesser->messages)
            QCOMPARE(message.value("type").toString(), QString("pin"));

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

    void portFallbackAndPage()
    {
        mlog::Capture log;
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::Any, 0));
        NoPhoneRelay phone;
        DaemonStateCache cache(phone);
        AbletonSocket live(cache, phone);
        WebRemoteServer web(cache, live);
        QVERIFY(web.start(taken.serverPort()));
        QVERIFY(web.usingFallbackPort());
        QVERIFY(web.port() != 0 && web.port() != taken.serverPort());
        QVERIFY(logged(log, QString("port %1 unavailable, falling back to an OS-assigned port — ")
                                .arg(taken.serverPort())));
        QVERIFY(log.contains(QString("🌐 Web remote at %1 (%2)")
                                 .arg(web.addresses().named, web.addresses().numeric)));
        QVERIFY(web.addresses().named.endsWith(QString(".local:%1/").arg(web.port())));
    }
};

QTEST_GUILESS_MAIN(TestWebRemoteServer)
#include "tst_webremoteserver.moc"
