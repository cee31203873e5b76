// SPDX-License-Identifier: MIT
// The daemon's MIDI on the real path: RtMidiBackend on a JACK server, midipeer as
// the devices and as a program that opens "Marquell" as its input.
#include "midiemitter.h"
#include "midipeerprocess.h"
#include "midithru.h"
#include "rtmidibackend.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Every rig names its JACK client afresh: a departing client's name stays taken briefly.
QString nextClientName()
{
    static int count = 0;
    return QStringLiteral("DaemonTest%1").arg(++count);
}

struct Rig
{
    QString client = nextClientName();
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
    void emittedNoteArrivesAndOwnPortIsNotOffered();
    void thruPassesTwoSourcesUnchangedAndWhole();
};

void TestDaemonMidiJack::init()
{
    if (!MidiPeerProcess::jackRunning())
        QSKIP("no JACK server answers (scripts/test starts a private one)");
}

void TestDaemonMidiJack::emittedNoteArrivesAndOwnPortIsNotOffered()
{
    Rig rig;
    QVERIFY(rig.start());
    // Listed by the back-end, never offered: the ID it reports for our port is right.
    const auto ours = [&](const auto &s) {
        return s.name == rig.client + ":Marquell";
    };
    QVERIFY(std::any_of(rig.backend.sources().cbegin(), rig.backend.sources().cend(), ours));
    QVERIFY(std::none_of(rig.thru.availableSources().cbegin(), rig.thru.availableSources().cend(),
                         ours));

    QVERIFY(rig.listener.hears("\xfe",
                               [&](const QByteArray &p) { rig.backend.sendOnVirtualSource(p); }));
    rig.emitter.send(0x90, 0x3c, 0x64);
    rig.emitter.send(0xb3, 0x07, 0x00);
    QTRY_COMPARE_WITH_TIMEOUT(rig.listener.payload(), (QStringList{"90 3c 64", "b3 07 00"}), 3000);
}

// Ticked sources' bytes arrive unchanged (SysEx whole); with two playing at once every
// message of each arrives, each source in its order.
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
    rig.thru.toggle(*rig.offered(rig.client + u'A'));
    rig.thru.toggle(*rig.offered(rig.client + u'B'));

    QVERIFY(rig.listener.hears("\xfe", [&](const QByteArray &p) { a.sendHex(p); }));
    QVERIFY(rig.listener.hears("\xfc", [&](const QByteArray &p) { b.sendHex(p); }));

    const QByteArray sysex = QByteArray::fromHex("f0") + QByteArray(198, 0x33) + '\xf7';
    const QList<QByteArray> single{QByteArray::fromHex("923c64"), QByteArray::fromHex("b14000"),
                                   sysex};
    QStringList singleLines;
    for (const QByteArray &m : single) {
        a.sendHex(m);
        singleLines.append(QString::fromLatin1(m.toHex(' ')));
    }
    QTRY_COMPARE_WITH_TIMEOUT(rig.listener.payload(), singleLines, 3000);

    // Channel 0 from A, channel 1 from B; the data bytes count up.
    QStringList expected[2];
    for (int i = 0; i < 300; ++i) {
        for (int ch = 0; ch < 2; ++ch) {
            const char raw[3] = {char(0x90 + ch), char(i % 128), char(1 + i / 128)};
            const QByteArray msg(raw, 3);
            (ch ? b : a).sendHex(msg);
            expected[ch].append(QString::fromLatin1(msg.toHex(' ')));
        }
    }
    QTRY_COMPARE_WITH_TIMEOUT(rig.listener.payload().size(), 603, 5000);
    QCOMPARE(rig.listener.payload().filter(QRegularExpression("^90")), expected[0]);
    QCOMPARE(rig.listener.payload().filter(QRegularExpression("^91")), expected[1]);
}

QTEST_GUILESS_MAIN(TestDaemonMidiJack)
#include "tst_daemonmidijack.moc"
