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
    std::optional<qint32> offered(const QString &peerName) const
    {
        for (const ThruControl::Source &s : thru.availableSources())
            if (s.name == peerName + u':' + peerName)
                return s.id;
        return std::nullopt;
    }
};

} // namespace

class TestDaemonMidiJack final : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void noServerIsReportedNotFatal();
    void factoryPicksAnOpenableApi_data();
    void factoryPicksAnOpenableApi();
    void emittedNoteArrivesAndOwnPortIsNotOffered();
    void thruPassesTwoSourcesUnchangedAndWhole();
};

void TestDaemonMidiJack::init()
{
    if (QByteArray(QTest::currentTestFunction()) != "noServerIsReportedNotFatal" &&
        !MidiPeerProcess::jackRunning())
        QSKIP("no JACK server answers (scripts/test starts a private one)");
}

// JACK constructs without a server and fails later: that must read as "no MIDI".
void TestDaemonMidiJack::noServerIsReportedNotFatal()
{
    const QByteArray saved = qgetenv("JACK_DEFAULT_SERVER");
    qputenv("JACK_DEFAULT_SERVER", "marquell-no-such-server");
    RtMidiBackend backend(RtMidi::UNIX_JACK, QStringLiteral("NoServer"));
    qputenv("JACK_DEFAULT_SERVER", saved);
    QVERIFY(backend.clientStatus() != 0);
    QCOMPARE(backend.apiName(), QStringLiteral("none"));
    QVERIFY(backend.sources().isEmpty());
    QVERIFY(backend.openVirtualSource(QStringLiteral("Marquell")) != 0);
    QCOMPARE(backend.sendOnVirtualSource(QByteArray("\x90\x3c\x64", 3)),
             MidiBackend::SendResult::Failed);
    QVERIFY(backend.connectSource(1234) != 0);
}

void TestDaemonMidiJack::factoryPicksAnOpenableApi_data()
{
    QTest::addColumn<QByteArray>("forced");
    QTest::addColumn<QString>("expected");
    const bool alsa = QFile::exists(QStringLiteral("/dev/snd/seq"));
    QTest::newRow("automatic") << QByteArray() << (alsa ? "ALSA" : "JACK");
    QTest::newRow("forced jack") << QByteArray("jack") << "JACK";
    QTest::newRow("forced alsa") << QByteArray("alsa") << (alsa ? "ALSA" : "none");
    QTest::newRow("unknown name") << QByteArray("bogus") << (alsa ? "ALSA" : "JACK");
}

// ALSA's constructor throws where there is no sequencer; JACK must be tried then.
void TestDaemonMidiJack::factoryPicksAnOpenableApi()
{
    QFETCH(QByteArray, forced);
    QFETCH(QString, expected);
    qputenv("MARQUELL_MIDI_API", forced);
    const auto backend = createMidiBackend(QStringLiteral("FactoryTest"));
    qunsetenv("MARQUELL_MIDI_API");
    QCOMPARE(backend->apiName(), expected);
    QCOMPARE(backend->clientStatus() == 0, expected != u"none");
}

void TestDaemonMidiJack::emittedNoteArrivesAndOwnPortIsNotOffered()
{
    Rig rig;
    QVERIFY(rig.start());
    // Listed by the back-end, never offered: the ID it reports for our port is right.
    const auto ours = [&](const auto &s) {
        return s.name == rig.client + ":Marquell";
    };
    const QList<MidiSourceInfo> listed = rig.backend.sources();
    const QList<ThruControl::Source> offered = rig.thru.availableSources();
    QVERIFY(std::any_of(listed.cbegin(), listed.cend(), ours));
    QVERIFY(std::none_of(offered.cbegin(), offered.cend(), ours));
    QVERIFY(rig.listener.hears("\xfe",
                               [&](const QByteArray &p) { rig.backend.sendOnVirtualSource(p); }));
    rig.emitter.send(0x90, 0x3c, 0x64);
    rig.emitter.send(0xb3, 0x07, 0x00);
    QTRY_COMPARE_WITH_TIMEOUT(rig.listener.payload(), (QStringList{"90 3c 64", "b3 07 00"}), 3000);
}

// Ticked sources' bytes arrive unchanged and unfiltered (SysEx whole, clock too); with
// two playing at once every message of each arrives, each source in its order.
void TestDaemonMidiJack::thruPassesTwoSourcesUnchangedAndWhole()
{
    Rig rig;
    QVERIFY(rig.start());
    MidiPeerProcess a;
    MidiPeerProcess b;
    QVERIFY(a.start({QStringLiteral("send"), rig.client + QStringLiteral("A")}));
    QVERIFY(b.start({QStringLiteral("send"), rig.client + QStringLiteral("B")}));
    QTRY_VERIFY_WITH_TIMEOUT(rig.offered(rig.client + u'A') && rig.offered(rig.client + u'B'),
                             3000);
    // Listed under the ID its name gives; connecting twice or a source not there is told.
    const qint32 idA = *rig.offered(rig.client + u'A');
    QCOMPARE(idA, midiportid::forName(rig.client + u'A' + u':' + rig.client + u'A'));
    QCOMPARE(rig.backend.connectSource(idA), 0);
    QCOMPARE(rig.backend.connectSource(midiportid::forName(QStringLiteral("No:One"))),
             RtMidiBackend::noSuchSource);
    rig.thru.toggle(idA);
    rig.thru.toggle(*rig.offered(rig.client + u'B'));
    QVERIFY(rig.listener.hears("\xfe", [&](const QByteArray &p) { a.sendHex(p); }));
    QVERIFY(rig.listener.hears("\xfc", [&](const QByteArray &p) { b.sendHex(p); }));

    const QByteArray sysex = QByteArray::fromHex("f0") + QByteArray(198, 0x33) + '\xf7';
    QStringList singleLines;
    for (const QByteArray &m : {QByteArray::fromHex("923c64"), QByteArray::fromHex("b14000"),
                                QByteArray::fromHex("f8"), sysex}) {
        a.sendHex(m);
        singleLines.append(QString::fromLatin1(m.toHex(' ')));
    }
    QTRY_COMPARE_WITH_TIMEOUT(rig.listener.payload(), singleLines, 3000);

    // Channel 0 from A, channel 1 from B; the data bytes count up.
    QStringList expected[2];
    for (int i = 0; i < 300; ++i) {
        for (int ch = 0; ch < 2; ++ch) {
            const char raw[3] = {char(0x90 + ch), char(i % 128), char(1 + i / 128)};
            (ch ? b : a).sendHex(QByteArray(raw, 3));
            expected[ch].append(QString::fromLatin1(QByteArray(raw, 3).toHex(' ')));
        }
    }
    QTRY_COMPARE_WITH_TIMEOUT(rig.listener.payload().size(), 604, 5000);
    QCOMPARE(rig.listener.payload().filter(QRegularExpression("^90")), expected[0]);
    QCOMPARE(rig.listener.payload().filter(QRegularExpression("^91")), expected[1]);
}

QTEST_GUILESS_MAIN(TestDaemonMidiJack)
#include "tst_daemonmidijack.moc"
