// SPDX-License-Identifier: MIT
// MIDI on the real path: RtMidiBackend on a JACK server, midipeer as the devices and
// as a program that opens the daemon's "Marquell" as its input.
#include "midiemitter.h"
#include "midipeerprocess.h"
#include "midiportid.h"
#include "midithru.h"
#include "rtmidibackend.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The daemon's MIDI, and a listener on its virtual source. Every rig names its JACK
// client afresh: a departing client's name stays taken briefly.
struct Rig
{
    inline static int count = 0;
    QString client = QStringLiteral("DaemonTest%1").arg(++count);
    QTemporaryDir dir;
    QSettings settings{dir.filePath(QStringLiteral("daemon.ini")), QSettings::IniFormat};
    RtMidiBackend backend{RtMidi::UNIX_JACK, client};
    MIDIEmitter emitter{backend};
    MIDIThru thru{backend, emitter, settings};
    MidiPeerProcess listener;

    bool start()
    {
        emitter.start();
        thru.start();
        return emitter.isReady() && thru.isReady() &&
               listener.start({QStringLiteral("listen"), client + QStringLiteral(":Marquell")});
    }
    std::optional<qint32> offered(const QString &portName) const
    {
        for (const ThruControl::Source &s : thru.availableSources())
            if (s.name == portName)
                return s.id;
        return std::nullopt;
    }
};

} // namespace

class TestDaemonMidiJack final : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        if (!MidiPeerProcess::jackRunning())
            QSKIP("no JACK server answers (scripts/test starts a private one)");
    }

    // ALSA's constructor throws where there is no sequencer, and JACK constructs without
    // a server and fails later: both must read as "no MIDI", never fatal, and the
    // automatic choice must go on to the next API.
    void factoryPicksAnOpenableApi_data()
    {
        QTest::addColumn<QByteArray>("forced");
        QTest::addColumn<QByteArray>("server"); // empty: the test's own JACK server
        QTest::addColumn<QString>("expected");
        const bool alsa = QFile::exists(QStringLiteral("/dev/snd/seq"));
        const QByteArray none;
        QTest::newRow("automatic") << none << none << (alsa ? "ALSA" : "JACK");
        QTest::newRow("forced jack") << QByteArray("jack") << none << "JACK";
        QTest::newRow("jack without a server")
            << QByteArray("jack") << QByteArray("marquell-no-such-server") << "none";
        QTest::newRow("forced alsa") << QByteArray("alsa") << none << (alsa ? "ALSA" : "none");
        QTest::newRow("unknown name") << QByteArray("bogus") << none << (alsa ? "ALSA" : "JACK");
    }
    void factoryPicksAnOpenableApi()
    {
        QFETCH(QByteArray, forced);
        QFETCH(QByteArray, server);
        QFETCH(QString, expected);
        const QByteArray saved = qgetenv("JACK_DEFAULT_SERVER");
        if (!server.isEmpty())
            qputenv("JACK_DEFAULT_SERVER", server);
        qputenv("MARQUELL_MIDI_API", forced);
        const auto backend = createMidiBackend(QStringLiteral("FactoryTest"));
        qunsetenv("MARQUELL_MIDI_API");
        qputenv("JACK_DEFAULT_SERVER", saved);
        QCOMPARE(backend->apiName(), expected);
        QCOMPARE(backend->clientStatus() == 0, expected != u"none");
        if (expected != u"none")
            return;
        QVERIFY(backend->sources().isEmpty());
        QVERIFY(backend->openVirtualSource(QStringLiteral("Marquell")) != 0);
        QCOMPARE(backend->sendOnVirtualSource(QByteArray("\x90\x3c\x64", 3)),
                 MidiBackend::SendResult::Failed);
        QVERIFY(backend->connectSource(1234) != 0);
    }

    // A program that opens our virtual source gets what the emitter sends, then what
    // ticked sources play: unchanged and unfiltered (SysEx whole, clock too); with two
    // playing at once every message of each, each source in its order. Our own port is
    // listed by the back-end, never offered: the ID it reports for it is right.
    void virtualSourceCarriesEmitterAndThru()
    {
        Rig rig;
        QVERIFY(rig.start());
        const QString ours = rig.client + QStringLiteral(":Marquell");
        QCOMPARE(std::ranges::count(rig.backend.sources(), ours, &MidiSourceInfo::name), 1);
        QVERIFY(!rig.offered(ours));
        QVERIFY(rig.listener.hears(
            "\xfe", [&](const QByteArray &p) { rig.backend.sendOnVirtualSource(p); }));
        rig.emitter.send(0x90, 0x3c, 0x64);
        rig.emitter.send(0xb3, 0x07, 0x00);

        MidiPeerProcess a;
        MidiPeerProcess b;
        QVERIFY(a.start({QStringLiteral("send"), rig.client + u'A'}));
        QVERIFY(b.start({QStringLiteral("send"), rig.client + u'B'}));
        const QString portA = QStringLiteral("%1A:%1A").arg(rig.client);
        const QString portB = QStringLiteral("%1B:%1B").arg(rig.client);
        QTRY_VERIFY_WITH_TIMEOUT(rig.offered(portA) && rig.offered(portB), 3000);
        // Listed under the ID its name gives; connecting twice or a source not there is told.
        QCOMPARE(*rig.offered(portA), midiportid::forName(portA));
        QCOMPARE(rig.backend.connectSource(*rig.offered(portA)), 0);
        QCOMPARE(rig.backend.connectSource(midiportid::forName(QStringLiteral("No:One"))),
                 RtMidiBackend::noSuchSource);
        rig.thru.toggle(*rig.offered(portA));
        rig.thru.toggle(*rig.offered(portB));
        QVERIFY(rig.listener.hears("\xfa", [&](const QByteArray &p) { a.sendHex(p); }));
        QVERIFY(rig.listener.hears("\xfc", [&](const QByteArray &p) { b.sendHex(p); }));

        // The emitter's and A's single messages first, then channel 0 from A and channel 1
        // from B, the data bytes counting up.
        QStringList expected[2] = {{"90 3c 64", "b3 07 00"}, {}};
        const QByteArray sysex = QByteArray::fromHex("f0") + QByteArray(198, 0x33) + '\xf7';
        for (const QByteArray &m : {QByteArray::fromHex("923c64"), QByteArray::fromHex("b14000"),
                                    QByteArray::fromHex("f8"), sysex}) {
            a.sendHex(m);
            expected[0].append(QString::fromLatin1(m.toHex(' ')));
        }
        for (int i = 0; i < 300; ++i) {
            for (int ch = 0; ch < 2; ++ch) {
                const char raw[3] = {char(0x90 + ch), char(i % 128), char(1 + i / 128)};
                (ch ? b : a).sendHex(QByteArray(raw, 3));
                expected[ch].append(QString::fromLatin1(QByteArray(raw, 3).toHex(' ')));
            }
        }
        QTRY_COMPARE_WITH_TIMEOUT(rig.listener.lines().size(), 606, 5000);
        QCOMPARE(rig.listener.lines().filter(QRegularExpression("^(?!91)")), expected[0]);
        QCOMPARE(rig.listener.lines().filter(QRegularExpression("^91")), expected[1]);
    }
};

QTEST_GUILESS_MAIN(TestDaemonMidiJack)
#include "tst_daemonmidijack.moc"
