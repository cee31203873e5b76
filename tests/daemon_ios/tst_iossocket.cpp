// SPDX-License-Identifier: MIT
#include "livebytes.h"
#include "log.h"
#include "phonerig.h"

#include <QTcpServer>
#include <QtTest>

using namespace livebytes;

namespace {

// A setlist as the phone sends it (full records), and the upload Live must get.
QByteArray phoneSetlist(int songs, QByteArray *forLive)
{
    QByteArray phone(1, 4);
    *forLive = QByteArray(1, 4);
    for (int i = 0; i < songs; ++i) {
        const QByteArray name = "Song " + QByteArray::number(i);
        phone += song(0x8000000001000000ull + i, name, "4:0" + QByteArray::number(i % 10));
        *forLive += u64(0x8000000001000000ull + i) + text(name);
    }
    return phone;
}

const QByteArray kPool = QByteArray(1, 3) + song(0x8000000001000001ull, "Intro", "1:00") + char(4);
const QByteArray kTempo = bytes({8, 0, 0, 0x2f, 0x12});
const QByteArray kMap = QByteArray(1, 0) + mapRecord("play", 0, 1, 60);

} // namespace

class TestIOSSocket : public QObject
{
    Q_OBJECT

private slots:
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
        QVERIFY(bound != squatter.serverPort());
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
    // replaces the earlier one, which is dropped without the "disconnected" line.
    void relaysAndCachedStateOnConnect()
    {
        mlog::Capture log;
        PhoneRig rig;
        auto early = rig.start();
        QVERIFY(early);
        const QList<QByteArray> relayed{bytes({1, 1}), bytes({2}), kPool, bytes({5, 3}),
                                        bytes({7, 2}), kTempo,     kMap};
        for (const QByteArray &payload : relayed)
            rig.server.writeFrame(payload);
        QTRY_COMPARE(early->frames, relayed);
        auto late = rig.connectPhone();
        QVERIFY(late);
        QTRY_COMPARE(late->frames,
                     (QList<QByteArray>{kPool, bytes({5, 3}), kTempo, bytes({7, 2}), kMap}));
        QTRY_VERIFY(!early->isOpen());
        QVERIFY(!log.contains("iOS client disconnected"));
        QTest::qWait(20);
        QCOMPARE(early->frames, relayed);
    }

    // The phone is told each time Live is found missing, about once a second.
    void liveDownRepeatsNine()
    {
        PhoneRig rig;
        auto client = rig.start();
        QVERIFY(client);
        rig.server.closeClients();
        QTRY_COMPARE(client->frames.value(0), bytes({9}));
        rig.server.stopListening();
        rig.live.connectToLive(rig.server.port()); // refused: false assigned again
        QTRY_COMPARE(client->frames.count(bytes({9})), 2);
    }

    void fromPhone_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QByteArray>("toLive");
        QTest::addColumn<QList<QByteArray>>("midi");
        using C = QList<QByteArray>;
        const QByteArray noteOn = bytes({0x90, 0x3c, 0x64});
        QTest::newRow("MIDI") << C{bytes({0x20}) + noteOn} << QByteArray() << C{noteOn};
        QTest::newRow("MIDI split in two chunks")
            << C{bytes({0x20, 0x90}), bytes({0x3c, 0x64})} << QByteArray() << C{noteOn};
        QTest::newRow("MIDI then transport in one chunk")
            << C{bytes({0x20, 0x80, 0x3c, 0, 1, 1})} << bytes({1, 1}) << C{bytes({0x80, 0x3c, 0})};
        QTest::newRow("play song") << C{bytes({5}) + u64(7)} << bytes({5}) + u64(7) << C{};
        QTest::newRow("garbage") << C{bytes({0xfe, 1, 1})} << QByteArray() << C{};
        QByteArray forLive;
        const QByteArray list = phoneSetlist(3, &forLive);
        QTest::newRow("setlist followed at once by a command")
            << C{list + bytes({1, 4})} << forLive + bytes({1, 4}) << C{};
    }
    void fromPhone()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QByteArray, toLive);
        QFETCH(QList<QByteArray>, midi);
        PhoneRig rig;
        auto client = rig.start();
        QVERIFY(client);
        rig.server.writeFrame(kPool);
        QTRY_COMPARE(client->frames.size(), 1);
        client->write(chunks);
        if (!toLive.isEmpty())
            QTRY_COMPARE(rig.server.received().toHex(), toLive.toHex());
        QTRY_COMPARE(rig.midi.sent.size(), midi.size());
        QCOMPARE(rig.midi.sent, midi);
        client->write({bytes({1, 2})}); // everything before this has been handled
        QTRY_COMPARE(rig.server.received().toHex(), (toLive + bytes({1, 2})).toHex());
    }

    // New bytes keep a setlist open: it ends a quiet time (250 ms) after its last bytes,
    // not after its first.
    void setlistEndsAQuietTimeAfterItsLastBytes()
    {
        PhoneRig rig;
        auto client = rig.start();
        QVERIFY(client);
        QByteArray forLive;
        const QByteArray list = phoneSetlist(3, &forLive);
        for (qsizetype at : {0, 21, 41}) { // the type byte and whole records of 20 bytes
            QTest::qWait(at ? 150 : 0);
            client->write({list.sliced(at, at ? 20 : 21)});
        }
        QTRY_COMPARE(rig.server.received().toHex(), forLive.toHex());
    }

    void oversizedInputDropsTheClient()
    {
        mlog::Capture log;
        PhoneRig rig;
        QVERIFY(rig.listen());
        auto client = rig.connectPhone();
        QVERIFY(client);
        QByteArray flood(1, 4);
        while (flood.size() <= PhoneInputParser::kMaxPending + 300)
            flood += song(0x8000000000000001ull, QByteArray(250, 'n'), "1:00");
        client->write({flood});
        QTRY_VERIFY(!client->isOpen());
        QVERIFY(!rig.phone.hasClient());
        QVERIFY(log.contains(
            "Input from iOS passed 1 MiB without ending a message; dropping the client"));
    }

    // A phone that stops reading must not make the daemon queue without bound.
    void phoneThatStopsReadingIsDropped()
    {
        iOSSocket::Options options = PhoneRig::fastOptions();
        options.maxUnsentBytes = 64 * 1024;
        mlog::Capture log;
        PhoneRig rig(options);
        QVERIFY(rig.listen());
        QTcpSocket stalled;
        stalled.setReadBufferSize(1);
        stalled.connectToHost(QHostAddress::LocalHost, rig.phone.listeningPort());
        QTRY_VERIFY(rig.phone.hasClient());
        for (int i = 0; i < 20000 && rig.phone.hasClient(); ++i)
            rig.phone.sendToiOS(QByteArray(4000, 3));
        QVERIFY(!rig.phone.hasClient());
        QCOMPARE(log.messages().filter("iOS client is not reading (").size(), 1);
    }

    // A new phone's first bytes are never glued to what the last one left pending.
    void clientChangeClearsPendingInput()
    {
        mlog::Capture log;
        PhoneRig rig;
        auto first = rig.start();
        QVERIFY(first);
        first->write({bytes({1, 1, 0x20, 0x90})});
        QTRY_COMPARE(rig.server.received(), bytes({1, 1}));
        auto second = rig.connectPhone();
        QVERIFY(second);
        second->write({bytes({0x3c, 0x64, 1, 1}), bytes({1, 3})});
        QTRY_COMPARE(rig.server.received(), bytes({1, 1, 1, 3}));
        QVERIFY(rig.midi.sent.isEmpty());
        QVERIFY(
            log.contains("Dropped input from iOS starting with byte 0x3C: not a known message"));
    }
};

QTEST_GUILESS_MAIN(TestIOSSocket)
#include "tst_iossocket.moc"
