// SPDX-License-Identifier: MIT
// The daemon's virtual source and MIDI thru on the in-memory back-end, and on the real
// path: RtMidiBackend on a JACK server, midipeer as the devices and as a program that
// opens the daemon's "Marquell" as its input.
#include "fakemidibackend.h"
#include "log.h"
#include "midipeerprocess.h"
#include "midiportid.h"
#include "midithru.h"
#include "rtmidibackend.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using Result = MidiBackend::SendResult;
using Faults = FakeMidiBackend::Faults;
Q_DECLARE_METATYPE(Faults)

namespace {

constexpr qint32 pedal = 1111;
constexpr qint32 keys = 2222;
const char *const created = "MIDIEmitter: virtual source 'Marquell' created";
const char *const ready = "MIDIThru: ready, 1 source(s) selected";

// An emitter and thru on the fake back-end, settings in a temp folder; start() with
// the given sources present and ticked.
struct Rig
{
    mlog::Capture log;
    QTemporaryDir dir;
    QSettings settings{dir.filePath(QStringLiteral("daemon.ini")), QSettings::IniFormat};
    FakeMidiBackend backend;
    MIDIEmitter emitter{backend};
    MIDIThru thru{backend, emitter, settings};

    void start(const QVariantList &present, const QVariantList &ticked)
    {
        // Another device may be called "Marquell" too; only identity excludes ours.
        for (const QVariant &id : present)
            backend.addSource(id.toInt() == keys ? "Marquell" : QString(), id.toInt());
        settings.setValue("midiThruSourceIDs", ticked);
        emitter.start();
        thru.start();
    }
    QSet<qint32> reread() // what a restart reads back: another process, not Qt's cache
    {
        settings.sync();
        QProcess process;
        process.start(QStringLiteral(THRUSELECTION), {settings.fileName()});
        if (!process.waitForFinished(10000) || process.exitCode() != 0)
            return {-1};
        QSet<qint32> ids;
        for (const QByteArray &line : process.readAllStandardOutput().split('\n'))
            if (!line.isEmpty())
                ids.insert(line.toInt());
        return ids;
    }
};

// The daemon's MIDI, and a listener on its virtual source. Every rig names its JACK
// client afresh, also across runs: a departing client's name stays taken briefly, and
// JACK gives a second client of the same name another one.
struct JackRig
{
    inline static int count = 0;
    QString client =
        QStringLiteral("DaemonTest%1-%2").arg(QCoreApplication::applicationPid()).arg(++count);
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

class TestDaemonMidi final : public QObject
{
    Q_OBJECT

private slots:
    // Starting logs what came up; a message then goes out only from a ready source, and
    // a refused thru connection is left out and tried again by the next sync.
    void startThenSend_data()
    {
        QTest::addColumn<Faults>("faults");
        QTest::addColumn<bool>("forwarding"); // thru's path instead of the phone's
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("lines"); // the system log
        const auto row = [](const char *name, Faults faults, bool forwarding, const char *hex,
                            const QStringList &lines) {
            QTest::newRow(name) << faults << forwarding << QByteArray::fromHex(hex) << lines;
        };
        row("note on", {}, false, "953c7f", {created, ready});
        // The emitter does not judge validity; the phone's bytes pass as they are.
        row("not valid MIDI", {}, false, "ff8080", {created, ready});
        row("forwarded", {}, true, "953c7f", {created, ready});
        row("rejected", {.send = Result::Rejected}, false, "953c7f",
            {created, ready, "MIDIEmitter: MIDIPacketListAdd rejected [149, 60, 127]"});
        row("failed", {.send = Result::Failed}, false, "953c7f",
            {created, ready, "MIDIEmitter: MIDIReceived failed (-7)"});
        row("failed forwarding", {.send = Result::Failed}, true, "953c7f",
            {created, ready, "MIDIEmitter: MIDIReceived failed forwarding (-7)"});
        row("no MIDI system", {.client = -108}, false, "953c7f",
            {"MIDIEmitter: MIDIClientCreateWithBlock failed (-108)",
             "MIDIThru: MIDIClientCreateWithBlock failed (-108)",
             "MIDIEmitter: dropping message, source not ready"});
        row("source refused, forwarding is dropped silently", {.open = -103}, true, "953c7f",
            {"MIDIEmitter: MIDISourceCreate failed (-103)", ready});
        row("connect refused", {.connect = -10830}, false, "953c7f",
            {created, "MIDIThru: MIDIPortConnectSource failed for 1111 (-10830)", ready});
    }
    void startThenSend()
    {
        QFETCH(Faults, faults);
        QFETCH(bool, forwarding);
        QFETCH(QByteArray, bytes);
        Rig rig;
        rig.backend.faults = faults;
        rig.start({pedal}, {pedal});
        if (forwarding)
            rig.emitter.forward(bytes);
        else
            rig.emitter.send(quint8(bytes[0]), quint8(bytes[1]), quint8(bytes[2]));
        const bool delivered = rig.emitter.isReady() && faults.send == Result::Sent;
        QCOMPARE(rig.backend.sent(), delivered ? QList<QByteArray>{bytes} : QList<QByteArray>{});
        QTEST(rig.log.systemLines(), "lines");
        const QList<qint32> none;
        QCOMPARE(rig.backend.connectedSources(),
                 faults.client || faults.connect ? none : QList{pedal});
        rig.backend.faults.connect = 0;
        rig.thru.sync();
        QCOMPARE(rig.backend.connectedSources(), faults.client ? none : QList{pedal});
    }

    void storedSelectionIsRead_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QSet<qint32>>("expected");
        const auto row = [](const char *name, const QVariant &stored, QSet<qint32> expected) {
            QTest::newRow(name) << stored << expected;
        };
        row("unset", QVariant(), {});
        row("a numeric text", QStringLiteral("1111"), {1111});
        row("a text", QStringLiteral("x"), {});
        row("one integer, not an array", 1111, {1111});
        row("one integer in an array", QVariantList{1111}, {1111});
        row("integers", QVariantList{1111, -5, qint64(2222)}, {1111, -5, 2222});
        row("numeric texts", QStringList{"1111", "-5"}, {1111, -5});
        row("a string among integers", QVariantList{1111, QStringLiteral("x")}, {});
        row("a real among integers", QVariantList{1111, 2.5}, {});
        row("outside 32 bits dropped",
            QVariantList{1111, qint64(1) << 32, qint64(-2147483649LL), quint64(4294967295ULL),
                         qint64(-2147483648LL)},
            {1111, std::numeric_limits<qint32>::min()});
    }
    void storedSelectionIsRead()
    {
        QFETCH(QVariant, stored);
        Rig rig;
        rig.settings.setValue("midiThruSourceIDs", stored);
        QTEST(rig.reread(), "expected");
    }

    // Only ticked sources reach the virtual source, bytes untouched; a ticked source
    // that is unplugged stays ticked and is connected again when it returns. Our own
    // source, which the fake lists, is never offered.
    void toggleAndUnplug()
    {
        Rig rig;
        rig.start({pedal, keys}, {keys});
        QCOMPARE(rig.thru.availableSources(),
                 (QList<ThruControl::Source>{{pedal, "Unknown Input"}, {keys, "Marquell"}}));
        QCOMPARE(rig.backend.connectedSources(), QList<qint32>{keys});
        rig.thru.toggle(pedal);
        QFile ini(rig.settings.fileName()); // on disk at once: a crash keeps the choice
        QVERIFY(ini.open(QIODevice::ReadOnly) && ini.readAll().contains("1111"));
        QCOMPARE(rig.reread(), (QSet<qint32>{keys, pedal}));
        QCOMPARE(rig.backend.connectedSources().size(), 2);
        rig.thru.toggle(keys);
        QCOMPARE(rig.backend.connectedSources(), QList<qint32>{pedal});
        const QByteArray sysex = QByteArray::fromHex("f0") + QByteArray(198, 0x22) + '\xf7';
        QVERIFY(rig.backend.inject(pedal, sysex));
        QVERIFY(rig.backend.inject(pedal, QByteArray::fromHex("f8")));
        QCOMPARE(rig.backend.sent(), (QList<QByteArray>{sysex, QByteArray::fromHex("f8")}));

        rig.backend.removeSource(pedal);
        QVERIFY(rig.backend.connectedSources().isEmpty());
        QCOMPARE(rig.thru.selectedSourceIDs(), QSet<qint32>{pedal});
        rig.backend.addSource(QString(), pedal);
        QCOMPARE(rig.backend.connectedSources(), QList<qint32>{pedal});
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
        if (!MidiPeerProcess::jackRunning())
            QSKIP("no JACK server answers (scripts/test starts a private one)");
        QFETCH(QByteArray, forced);
        QFETCH(QByteArray, server);
        QFETCH(QString, expected);
        const QByteArray saved = qgetenv("JACK_DEFAULT_SERVER");
        if (!server.isEmpty())
            qputenv("JACK_DEFAULT_SERVER", server);
        qputenv("MARQUELL_MIDI_API", forced);
        mlog::Capture log;
        const auto backend = createMidiBackend(QStringLiteral("FactoryTest"));
        qunsetenv("MARQUELL_MIDI_API");
        qputenv("JACK_DEFAULT_SERVER", saved);
        QCOMPARE(backend->apiName(), expected);
        QCOMPARE(backend->clientStatus() == 0, expected != u"none");
        const QStringList said = log.systemLines().filter(QStringLiteral("MIDI: unavailable"));
        QCOMPARE(said.size(), expected == u"none" ? 1 : 0);
        if (expected != u"none")
            return;
        QVERIFY2(said.first().contains(server.isEmpty() ? "no ALSA sequencer" : server),
                 qPrintable(said.first()));
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
        if (!MidiPeerProcess::jackRunning())
            QSKIP("no JACK server answers (scripts/test starts a private one)");
        JackRig rig;
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
        // Both ports are up once their peers say so: read the list now, not at the next
        // poll, which a loaded machine may put off.
        rig.backend.refresh();
        QVERIFY(rig.offered(portA) && rig.offered(portB));
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

QTEST_GUILESS_MAIN(TestDaemonMidi)
#include "tst_daemonmidi.moc"
