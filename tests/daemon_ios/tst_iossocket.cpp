// SPDX-License-Identifier: MIT
#include "livebytes.h"
#include "log.h"
#include "phonerig.h"

#include <QRandomGenerator>
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
        mlog::Capture log;
        PhoneRig rig;
        if (stored.isValid())
            rig.settings.setValue("iosListenerPort", stored);
        rig.phone.startAdvertising("Marquell", "_marquell._tcp");
        QCOMPARE(rig.lastPublished(), PublisherState::published(quint16(expected)));
        QCOMPARE(rig.advertiser.current,
                 std::optional(ServiceAdvertiser::Service{
                     "Marquell", "_marquell._tcp", quint16(expected), rig.phone.deviceName()}));
        QCOMPARE(log.systemLines(),
                 QStringList{QStringLiteral("iOSSocket: listening on port %1").arg(expected)});
        QCOMPARE(log.messages(), (QStringList{"Starting advertising", "making new listener"}));
    }

    void portTakenFallsBackOnce()
    {
        QTcpServer squatter;
        QVERIFY(squatter.listen(QHostAddress::LocalHost, 0));
        mlog::Capture log;
        PhoneRig rig;
        rig.settings.setValue("iosListenerPort", squatter.serverPort());
        rig.phone.startAdvertising("Marquell", "_marquell._tcp");
        QVERIFY(rig.phone.usingFallbackPort());
        const quint16 bound = rig.phone.listeningPort();
        QVERIFY(bound != 0 && bound != squatter.serverPort());
        QCOMPARE(rig.lastPublished(), PublisherState::published(bound));
        QCOMPARE(rig.advertiser.current->port, bound);
        const QStringList lines = log.systemLines();
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines[0].startsWith(QStringLiteral("iOSSocket: port %1 unavailable, falling back "
                                                    "to an OS-assigned port — ")
                                         .arg(squatter.serverPort())),
                 qPrintable(lines[0]));
        QCOMPARE(lines[1], QStringLiteral("iOSSocket: listening on port %1").arg(bound));
        // A restart always tries the configured port first again.
        rig.phone.setListenPort(squatter.serverPort());
        QVERIFY(!rig.phone.usingFallbackPort());
    }

    // An address this machine does not have refuses the fallback too.
    void secondAddressErrorGivesPortUnavailable()
    {
        iOSSocket::Options options = PhoneRig::fastOptions();
        options.address = QHostAddress(QStringLiteral("192.0.2.1")); // documentation range
        mlog::Capture log;
        PhoneRig rig(options);
        rig.settings.setValue("iosListenerPort", 9000);
        rig.phone.startAdvertising("Marquell", "_marquell._tcp");
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

    void setListenPort()
    {
        mlog::Capture log;
        PhoneRig rig;
        QVERIFY(rig.listen());
        const quint16 first = rig.phone.listeningPort();
        rig.phone.setListenPort(0);
        QCOMPARE(rig.phone.listeningPort(), first);
        const quint16 next = ScriptedLiveServer::closedPort();
        rig.phone.setListenPort(next);
        QCOMPARE(rig.settings.value("iosListenerPort").toInt(), next);
        QVERIFY(log.systemLines().contains(
            QStringLiteral("iOSSocket: listen port set to %1").arg(next)));
        QTRY_COMPARE(rig.lastPublished(), PublisherState::published(next));
        QCOMPARE(rig.advertiser.current->port, next);
    }

    void cachedStateOnConnect()
    {
        mlog::Capture log;
        PhoneRig rig;
        QVERIFY(rig.listen());
        QVERIFY(rig.validateLive());
        auto early = rig.connectPhone();
        QVERIFY(early);
        const QByteArray tempo = bytes({8, 0, 0, 0x2f, 0x12});
        const QByteArray map = QByteArray(1, 0) + mapRecord("play", 0, 1, 60);
        for (const QByteArray &payload : {kPool, tempo, map})
            rig.server.writeFrame(payload);
        QTRY_COMPARE(early->frames, (QList<QByteArray>{kPool, tempo, map}));
        log.clear();
        auto late = rig.connectPhone();
        QVERIFY(late);
        QTRY_COMPARE(late->frames, (QList<QByteArray>{kPool, tempo, map}));
        QCOMPARE(
            log.messages().mid(0, 4),
            (QStringList{
                "iOS client connected",
                QStringLiteral("Sending cached songPool + setlist to iOS (%1 bytes)")
                    .arg(kPool.size()),
                "Sending cached tempo to iOS (5 bytes)",
                QStringLiteral("Sending cached MIDI mappings to iOS (%1 bytes)").arg(map.size())}));
        // The replaced phone is dropped without the "disconnected" line.
        QTRY_VERIFY(!early->isOpen());
        QVERIFY(!log.contains("iOS client disconnected"));
        QTest::qWait(20);
        QCOMPARE(early->frames.size(), 3);
    }

    void relaysFromLive_data()
    {
        QTest::addColumn<QByteArray>("fromLive");
        QTest::addColumn<QByteArray>("toPhone");
        QTest::newRow("playing") << bytes({1, 1}) << bytes({1, 1});
        QTest::newRow("notice") << bytes({2}) << bytes({2});
        QTest::newRow("song pool") << kPool << kPool;
        QTest::newRow("selected index") << bytes({5, 3}) << bytes({5, 3});
        QTest::newRow("cue jump mode") << bytes({7, 2}) << bytes({7, 2});
        QTest::newRow("tempo") << bytes({8, 0, 0, 0x2f, 0x12}) << bytes({8, 0, 0, 0x2f, 0x12});
        QTest::newRow("MIDI map") << QByteArray(1, 0) + mapRecord("next", 1, 0, 64)
                                  << QByteArray(1, 0) + mapRecord("next", 1, 0, 64);
    }
    void relaysFromLive()
    {
        QFETCH(QByteArray, fromLive);
        QFETCH(QByteArray, toPhone);
        PhoneRig rig;
        QVERIFY(rig.listen());
        QVERIFY(rig.validateLive());
        auto client = rig.connectPhone();
        QVERIFY(client);
        client->frames.clear();
        rig.server.writeFrame(fromLive);
        QTRY_COMPARE(client->frames, QList<QByteArray>{toPhone});
    }

    // The phone is told each time Live is found missing, about once a second.
    void liveDownRepeatsNine()
    {
        PhoneRig rig;
        QVERIFY(rig.listen());
        QVERIFY(rig.validateLive());
        auto client = rig.connectPhone();
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
        QTest::addColumn<QString>("line");
        using C = QList<QByteArray>;
        QTest::newRow("MIDI") << C{bytes({0x20, 0x90, 0x3c, 0x64})} << QByteArray()
                              << C{bytes({0x90, 0x3c, 0x64})} << "";
        QTest::newRow("MIDI split in two chunks")
            << C{bytes({0x20, 0x90}), bytes({0x3c, 0x64})} << QByteArray()
            << C{bytes({0x90, 0x3c, 0x64})} << "";
        QTest::newRow("MIDI then transport in one chunk")
            << C{bytes({0x20, 0x80, 0x3c, 0, 1, 1})} << bytes({1, 1}) << C{bytes({0x80, 0x3c, 0})}
            << "";
        QTest::newRow("transport then MIDI in one chunk")
            << C{bytes({1, 1, 0x20, 0x90, 0x3c, 0x64})} << bytes({1, 1})
            << C{bytes({0x90, 0x3c, 0x64})} << "";
        QTest::newRow("play song") << C{bytes({5}) + u64(7)} << bytes({5}) + u64(7) << C{} << "";
        QTest::newRow("garbage")
            << C{bytes({0xfe, 1, 1})} << QByteArray() << C{}
            << "Dropped input from iOS starting with byte 0xFE: not a known message";
        QByteArray forLive;
        const QByteArray list = phoneSetlist(3, &forLive);
        QTest::newRow("setlist followed at once by a command")
            << C{list + bytes({1, 4})} << forLive + bytes({1, 4}) << C{} << "";
    }
    void fromPhone()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QByteArray, toLive);
        QFETCH(QList<QByteArray>, midi);
        QFETCH(QString, line);
        mlog::Capture log;
        PhoneRig rig;
        QVERIFY(rig.listen());
        QVERIFY(rig.validateLive());
        rig.server.writeFrame(kPool);
        auto client = rig.connectPhone();
        QVERIFY(client);
        QTRY_COMPARE(client->frames.size(), 1);
        QList<int> sizes;
        for (const QByteArray &chunk : chunks)
            sizes << chunk.size();
        client->writeInPieces(chunks.join(), sizes);
        if (!toLive.isEmpty())
            QTRY_COMPARE(rig.server.received().toHex(), toLive.toHex());
        QList<QByteArray> toSink;
        for (const auto &message : std::as_const(rig.midi.sent))
            toSink << QByteArray(reinterpret_cast<const char *>(message.data()), 3);
        QTRY_COMPARE(toSink.size(), midi.size());
        QCOMPARE(toSink, midi);
        if (!line.isEmpty())
            QTRY_VERIFY(log.contains(line));
        client->write(bytes({1, 2})); // everything before this has been handled
        QTRY_COMPARE(rig.server.received().toHex(), (toLive + bytes({1, 2})).toHex());
    }

    // However TCP cuts a 200-song setlist, Live gets one upload and the cache one merge.
    void setlistInAnyChunking_data()
    {
        QTest::addColumn<int>("maxChunk");
        QTest::newRow("a byte at a time") << 1;
        QTest::newRow("random chunks up to 300") << 300;
    }
    void setlistInAnyChunking()
    {
        QFETCH(int, maxChunk);
        mlog::Capture log;
        PhoneRig rig;
        QVERIFY(rig.listen());
        QVERIFY(rig.validateLive());
        rig.server.writeFrame(kPool);
        auto client = rig.connectPhone();
        QVERIFY(client);
        QByteArray forLive;
        const QByteArray list = phoneSetlist(200, &forLive);
        QRandomGenerator random{quint32(maxChunk)};
        QList<int> sizes;
        for (qsizetype left = list.size(); left > 0; left -= sizes.last())
            sizes << int(qMin<qsizetype>(1 + random.bounded(maxChunk), left));
        client->writeInPieces(list, sizes);
        QTRY_COMPARE(rig.server.received().size(), forLive.size());
        QCOMPARE(rig.server.received(), forLive);
        QTRY_COMPARE(log.count(QStringLiteral("Merged new setlist into cached song data (%1 bytes)")
                                   .arg(kPool.size() + list.size() - 1)),
                     1);
        QCOMPARE(*rig.cache.currentState().songData, kPool.chopped(1) + list);
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
        client->write(flood);
        QTRY_VERIFY(!client->isOpen());
        QVERIFY(!rig.phone.hasClient());
        QVERIFY(log.contains(
            "Input from iOS passed 1 MiB without ending a message; dropping the client"));
        QVERIFY(log.contains("iOS client disconnected"));
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
        QVERIFY(rig.listen());
        QVERIFY(rig.validateLive());
        auto first = rig.connectPhone();
        QVERIFY(first);
        first->write(bytes({0x20, 0x90}));
        QTRY_VERIFY(log.contains("receiving messages"));
        auto second = rig.connectPhone();
        QVERIFY(second);
        second->write(bytes({0x3c, 0x64, 1, 1}));
        QTRY_VERIFY(
            log.contains("Dropped input from iOS starting with byte 0x3C: not a known message"));
        second->write(bytes({1, 3}));
        QTRY_COMPARE(rig.server.received(), bytes({1, 3}));
        QVERIFY(rig.midi.sent.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestIOSSocket)
#include "tst_iossocket.moc"
