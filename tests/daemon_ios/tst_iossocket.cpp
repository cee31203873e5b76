// SPDX-License-Identifier: MIT
// The phone side of the daemon: its input cut into messages, and the listener.
#include "dnssdadvertiser.h"
#include "livebytes.h"
#include "log.h"
#include "phonerig.h"

#include <QTcpServer>
#include <QtTest>

using namespace livebytes;

namespace {

using Parser = PhoneInputParser;

// A setlist as the phone sends it (full records of 20 bytes), and the upload Live must get.
QByteArray phoneSetlist(int songs, QByteArray *forLive = nullptr)
{
    QByteArray phone(1, 4), live(1, 4);
    for (int i = 0; i < songs; ++i) {
        const QByteArray name = "Song " + QByteArray::number(i);
        phone += song(0x8000000001000000ull + i, name, "4:0" + QByteArray::number(i % 10));
        live += u64(0x8000000001000000ull + i) + text(name);
    }
    if (forLive)
        *forLive = live;
    return phone;
}

// "live 0101", "midi 903c64", then "fault 0 0xff" (kind, first byte) when input was dropped.
QStringList describe(const Parser::Result &result)
{
    QStringList out;
    for (const Parser::Message &message : result.messages)
        out << (message.kind == Parser::Message::Kind::Midi ? "midi " : "live ") +
                   QString::fromLatin1(message.bytes.toHex());
    if (result.fault)
        out << QStringLiteral("fault %1 0x%2")
                   .arg(int(*result.fault))
                   .arg(result.faultByte, 2, 16, QLatin1Char('0'));
    return out;
}

const QByteArray hangUp = QByteArrayLiteral("<hang up>"); // a marker, never fed

const QByteArray kPool = QByteArray(1, 3) + song(0x8000000001000001ull, "Intro", "1:00") + char(4);
const QByteArray kTempo = bytes({8, 0, 0, 0x2f, 0x12});
const QByteArray kMap = QByteArray(1, 0) + mapRecord("play", 0, 1, 60);

} // namespace

class TestIOSSocket : public QObject
{
    Q_OBJECT

private slots:
    // Chunks are fed in order; an empty chunk marks a pause long enough to end a setlist,
    // hangUp the phone hanging up.
    void messages_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QString>("taken"); // everything taken, in order
        using C = QList<QByteArray>;
        const QByteArray quiet;
        const QByteArray one = phoneSetlist(1);
        const QString list = "live " + QString::fromLatin1(one.toHex());

        QTest::newRow("MIDI record in two chunks")
            << C{bytes({0x20, 0x90}), bytes({0x3c, 0x64})} << "midi 903c64";
        QTest::newRow("MIDI then transport")
            << C{bytes({0x20, 0x80, 0x3c, 0, 1, 1})} << "midi 803c00, live 0101";
        // Two messages, not six bytes of one.
        QTest::newRow("transport then MIDI")
            << C{bytes({1, 1, 0x20, 0x90, 0x3c, 0x64})} << "live 0101, midi 903c64";
        QTest::newRow("every fixed size back to back")
            << C{bytes({0, 1, 2, 3, 4, 5, 1, 4, 2, 1, 3, 7, 7, 2, 9, 5, 0,
                        0, 0, 0, 0, 0, 0, 7, 6, 1, 2, 3, 4, 5, 6, 7, 8})}
            << "live 000102030405, live 0104, live 0201, live 0307, live 0702, live 09, "
               "live 050000000000000007, live 060102030405060708";
        QTest::newRow("play song cut, then completed")
            << C{bytes({5, 0, 0}), bytes({0, 0, 0, 0, 0, 9})} << "live 050000000000000009";
        QTest::newRow("setlist waits for the quiet time") << C{one} << "";
        QTest::newRow("setlist ended by quiet time") << C{one, quiet} << list;
        QTest::newRow("empty setlist") << C{bytes({4}), quiet} << "live 04";
        QTest::newRow("setlist then MIDI and transport at once")
            << C{one + bytes({0x20, 0x90, 0x3c, 0x64, 1, 2}), quiet}
            << list + ", midi 903c64, live 0102";
        // A record cut by a pause is not taken: it waits for the rest.
        QTest::newRow("setlist record cut across a pause")
            << C{one.first(7), quiet, one.sliced(7), quiet} << list;
        const QByteArray other = bytes({4}) + song(9, "X", "1:00") + song(8, "Y", "2:00");
        QTest::newRow("a second, different setlist")
            << C{one, quiet, other, quiet} << list + ", live " + QString::fromLatin1(other.toHex());
        QTest::newRow("transport after a taken setlist")
            << C{one, quiet, bytes({1, 4})} << list + ", live 0104";
        QTest::newRow("setlist ended by hanging up") << C{one, hangUp} << list;
        QTest::newRow("setlist and a command, then hanging up")
            << C{one + bytes({1, 2}), hangUp} << list + ", live 0102";
        // Its last songs missing, it would replace the whole setlist in Live.
        QTest::newRow("setlist cut short by hanging up, the next phone parses cleanly")
            << C{phoneSetlist(2).chopped(3), hangUp, bytes({1, 1})} << "fault 4 0x04, live 0101";
        QTest::newRow("play song cut short by hanging up")
            << C{bytes({5, 0, 0}), hangUp} << "fault 4 0x05";
        QTest::newRow("unknown type") << C{bytes({0xff, 1, 1})} << "fault 0 0xff";
        QTest::newRow("type 8 is the server's") << C{bytes({8, 0, 0, 0, 1})} << "fault 0 0x08";
        // The drop clears what was pending, so the next message parses cleanly.
        QTest::newRow("garbage then a command")
            << C{bytes({1, 1, 0x42, 1, 2}), bytes({1, 3})} << "live 0101, fault 0 0x42, live 0103";
        QTest::newRow("MIDI record without a status byte")
            << C{bytes({0x20, 0x10, 0x3c, 0x64})} << "fault 1 0x20";
        QTest::newRow("MIDI record with SysEx")
            << C{bytes({0x20, 0xf0, 0x01, 0x02})} << "fault 1 0x20";
        QTest::newRow("MIDI data byte with the high bit")
            << C{bytes({0x20, 0x90, 0x3c, 0x80})} << "fault 1 0x20";
        QTest::newRow("setlist name not UTF-8")
            << C{bytes({4}) + u64(1) + text("\xff\xfe") + text("1:00")} << "fault 2 0x04";
    }
    void messages()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QString, taken);
        Parser parser;
        QStringList all;
        for (const QByteArray &chunk : chunks)
            all += describe(chunk.isEmpty()   ? parser.quietTimeElapsed()
                            : chunk == hangUp ? parser.connectionEnded()
                                              : parser.feed(chunk));
        QCOMPARE(all.join(", "), taken);
        // The fuzzing entry point: all of it at once, then the quiet time.
        if (chunks.indexOf(QByteArray()) == chunks.size() - 1)
            QCOMPARE(describe(Parser::parseAll(chunks.join())).join(", "), taken);
    }

    void configuredPort_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<int>("expected");
        QTest::newRow("unset") << QVariant() << 51515;
        QTest::newRow("70000") << QVariant(70000) << 51515;
        QTest::newRow("0") << QVariant(0) << 51515;
        QTest::newRow("9000") << QVariant(9000) << 9000;
    }
    void configuredPort()
    {
        QFETCH(QVariant, stored);
        QFETCH(int, expected);
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, quint16(expected)))
            QSKIP("the port is in use on this machine");
        probe.close();
        PhoneRig rig;
        QVERIFY(rig.listen(stored));
        QCOMPARE(rig.lastPublished(), PublisherState::published(quint16(expected)));
        QCOMPARE(rig.advertiser.current,
                 std::optional(ServiceAdvertiser::Service{
                     "Marquell", "_marquell._tcp", quint16(expected), rig.phone.deviceName()}));
    }

    // A taken port falls back once to one the system picks; a new port is stored and
    // tried first again.
    void portTakenFallsBackThenNewPort()
    {
        QTcpServer squatter;
        QVERIFY(squatter.listen(QHostAddress::LocalHost, 0));
        mlog::Capture log;
        PhoneRig rig;
        QVERIFY(rig.listen(squatter.serverPort()));
        QVERIFY(rig.phone.usingFallbackPort());
        const quint16 bound = rig.phone.listeningPort();
        QCOMPARE(rig.lastPublished(), PublisherState::published(bound));
        QCOMPARE(rig.advertiser.current->port, bound);
        const QStringList lines = log.systemLines();
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines[0].startsWith(QStringLiteral("iOSSocket: port %1 unavailable, falling back "
                                                    "to an OS-assigned port — ")
                                         .arg(squatter.serverPort())),
                 qPrintable(lines[0]));
        QCOMPARE(lines[1], QStringLiteral("iOSSocket: listening on port %1").arg(bound));
        rig.phone.setListenPort(0);
        QCOMPARE(rig.phone.listeningPort(), bound);
        const quint16 next = ScriptedLiveServer::closedPort();
        rig.phone.setListenPort(next);
        QVERIFY(!rig.phone.usingFallbackPort());
        QCOMPARE(rig.settings.value("iosListenerPort").toInt(), next);
        QVERIFY(log.systemLines().contains(
            QStringLiteral("iOSSocket: listen port set to %1").arg(next)));
        QTRY_COMPARE(rig.lastPublished(), PublisherState::published(next));
        QCOMPARE(rig.advertiser.current->port, next);
    }

    // An address this machine does not have refuses the fallback too.
    void secondAddressErrorGivesPortUnavailable()
    {
        iOSSocket::Options options = PhoneRig::fastOptions();
        options.address = QHostAddress(QStringLiteral("192.0.2.1")); // documentation range
        mlog::Capture log;
        PhoneRig rig(options);
        QVERIFY(!rig.listen(9000));
        QCOMPARE(rig.published.count(), 1);
        QCOMPARE(rig.lastPublished().kind, PublisherState::Kind::PortUnavailable);
        QCOMPARE(rig.lastPublished().port, 9000);
        QVERIFY(!rig.lastPublished().reason.isEmpty());
        QCOMPARE(log.systemLines().size(), 2);
        QVERIFY(log.systemLines()[1].startsWith("iOSSocket: could not bind any port — "));
        QVERIFY(!rig.advertiser.current);
        QTest::qWait(60); // no retry follows, not even after the restart delay
        QCOMPARE(rig.published.count(), 1);
    }

    // Every frame from Live reaches the phone; a later phone gets the cached state and
    // replaces the earlier one, which is dropped without the "disconnected" line. The
    // phone is told each time Live is found missing, about once a second.
    void relaysAndCachedStateOnConnect()
    {
        mlog::Capture log;
        PhoneRig rig;
        QVERIFY(rig.start());
        const PhoneClient *early = rig.client.get();
        const QList<QByteArray> relayed{bytes({1, 1}), bytes({2}), kPool, bytes({5, 3}),
                                        bytes({7, 2}), kTempo,     kMap};
        // The daemon subscribed; what only subscribers get never reaches the phone, and
        // the phone's stream is byte for byte what it was without them.
        const QList<QByteArray> subscribed{position(0x8000000001000001ull, 1500, 60000, 0, 3),
                                           bytes({11}) + u64(0x8000000001000001ull) + bytes({1}) +
                                               u32(0) + u32(60000) + text("Verse"),
                                           bytes({12, 0, 1, 1})};
        for (qsizetype i = 0; i < relayed.size(); ++i)
            rig.server.write(frame(relayed.at(i)) + frame(subscribed.at(i % 3)));
        QTRY_COMPARE(early->frames, relayed);
        rig.client->write({bytes({1, 1, 0x20, 0x90})});
        QTRY_COMPARE(rig.server.received(), bytes({1, 1}));
        auto late = rig.connectPhone();
        QVERIFY(late);
        // Its first bytes are not glued to what the earlier phone left pending.
        late->write({bytes({0x3c, 0x64, 1, 1}), bytes({1, 3})});
        QTRY_COMPARE(rig.server.received(), bytes({1, 1, 1, 3}));
        QVERIFY(rig.midi.sent.isEmpty());
        QTRY_COMPARE(late->frames,
                     (QList<QByteArray>{kPool, bytes({5, 3}), kTempo, bytes({7, 2}), kMap}));
        QTRY_VERIFY(!early->isOpen());
        QVERIFY(!log.contains("iOS client disconnected"));
        QCOMPARE(early->frames, relayed); // nothing more reached it before it was closed

        rig.server.closeClients();
        QTRY_COMPARE(late->frames.last(), bytes({9}));
        rig.server.stopListening();
        rig.live.connectToLive(rig.server.port()); // refused: false assigned again
        QTRY_COMPARE(late->frames.count(bytes({9})), 2);
    }

    // New bytes keep a setlist open: it ends 250 ms after its last bytes, not its first.
    void fromPhone_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<int>("pause"); // ms before each chunk
        QTest::addColumn<QByteArray>("toLive");
        QTest::addColumn<QList<QByteArray>>("midi");
        using C = QList<QByteArray>;
        QTest::newRow("MIDI split, then transport")
            << C{bytes({0x20, 0x80}), bytes({0x3c, 0, 1, 1})} << 0 << bytes({1, 1})
            << C{bytes({0x80, 0x3c, 0})};
        QTest::newRow("play song") << C{bytes({5}) + u64(7)} << 0 << bytes({5}) + u64(7) << C{};
        QByteArray forLive;
        const QByteArray list = phoneSetlist(3, &forLive);
        QTest::newRow("setlist followed at once by a command")
            << C{list + bytes({1, 4})} << 0 << forLive + bytes({1, 4}) << C{};
        // The type byte, then whole records of 20 bytes.
        QTest::newRow("setlist in pieces shorter than the quiet time")
            << C{list.first(21), list.sliced(21, 20), list.sliced(41)} << 150 << forLive << C{};
    }
    void fromPhone()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(int, pause);
        QFETCH(QByteArray, toLive);
        QFETCH(QList<QByteArray>, midi);
        PhoneRig rig;
        QVERIFY(rig.start());
        rig.server.writeFrame(kPool);
        QTRY_COMPARE(rig.client->frames.size(), 1);
        for (const QByteArray &chunk : chunks) {
            QTest::qWait(pause);
            rig.client->write({chunk});
        }
        if (!toLive.isEmpty())
            QTRY_COMPARE(rig.server.received().toHex(), toLive.toHex());
        QTRY_COMPARE(rig.midi.sent, midi);
        rig.client->write({bytes({1, 2})}); // everything before this has been handled
        QTRY_COMPARE(rig.server.received().toHex(), (toLive + bytes({1, 2})).toHex());
    }

    // A phone that floods the daemon or stops reading is dropped: nothing queues
    // without bound.
    void floodingOrStalledPhoneIsDropped()
    {
        iOSSocket::Options options = PhoneRig::fastOptions();
        options.maxUnsentBytes = 64 * 1024;
        PhoneRig rig(options);
        QVERIFY(rig.listen());
        auto flooder = rig.connectPhone();
        QVERIFY(flooder);
        QByteArray flood(1, 4);
        while (flood.size() <= PhoneInputParser::kMaxPending + 300)
            flood += song(0x8000000000000001ull, QByteArray(250, 'n'), "1:00");
        flooder->write({flood});
        QTRY_VERIFY(!flooder->isOpen());
        QVERIFY(!rig.phone.hasClient());

        QTcpSocket stalled;
        stalled.setReadBufferSize(1);
        stalled.connectToHost(QHostAddress::LocalHost, rig.phone.listeningPort());
        QTRY_VERIFY(rig.phone.hasClient());
        for (int i = 0; i < 20000 && rig.phone.hasClient(); ++i)
            rig.phone.sendToiOS(QByteArray(4000, 3));
        QVERIFY(!rig.phone.hasClient());
    }

    // Without a DNS-SD daemon the listener serves unadvertised with a note beside its
    // port, and says so once however often it is made again.
    void listenerServesUnadvertisedWithoutDnsSd()
    {
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/marquell-no-bus");
        mlog::Capture log;
        PhoneRigWith<DnsSdAdvertiser> rig;
        QVERIFY(rig.listen());
        QVERIFY(!rig.lastPublished().note.isEmpty());
        rig.phone.setListenPort(ScriptedLiveServer::closedPort());
        QTRY_COMPARE(rig.lastPublished().port, rig.phone.listeningPort());
        QVERIFY(!rig.lastPublished().note.isEmpty());
        QCOMPARE(log.systemLines().filter("iOSSocket: DNS-SD is not available").size(), 1);
        QVERIFY(rig.connectPhone());
    }
};

QTEST_GUILESS_MAIN(TestIOSSocket)
#include "tst_iossocket.moc"
