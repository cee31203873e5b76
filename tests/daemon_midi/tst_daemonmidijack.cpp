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
    // JACK applies a new connection at a cycle boundary, so a message sent at once
    // may pass before it; send a one-byte probe until one arrives through the path.
    bool primed(const QByteArray &probe, const std::function<void(const QByteArray &)> &send)
    {
        const QString line = QString::fromLatin1(probe.toHex());
        return QTest::qWaitFor(
            [&] {
                send(probe);
                return QTest::qWaitFor([&] { return listener.lines().contains(line); }, 50);
            },
            5000);
    }
    // What arrived, without the one-byte probes.
    QStringList payload() const
    {
        QStringList lines = listener.lines();
        lines.removeIf([](const QString &line) { return line.size() == 2; });
        return lines;
    }
    std::optional<qint32> offered(const QString &peerName) const
    {
        for (const ThruControl::Source &s : thru.availableSources())
            if (s.name == peerName + u':' + peerName)
                return s.id;
        return std::nullopt;
    }
};

QByteArray sysexOf(int size)
{
    QByteArray bytes(size, '\x33');
    bytes[0] = char(0xf0);
    bytes[size - 1] = char(0xf7);
    return bytes;
}

} // namespace

class TestDaemonMidiJack final : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void emittedNoteArrivesAndOwnPortIsNotOffered();
    void thruPassesMessagesUnchanged_data();
    void thruPassesMessagesUnchanged();
    void twoSourcesInterleaveWithoutLoss();
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
    QVERIFY(rig.thru.availableSources().size() < rig.backend.sources().size());
    for (const ThruControl::Source &s : rig.thru.availableSources())
        QVERIFY2(!s.name.startsWith(rig.client + u':'), qPrintable(s.name));

    QVERIFY(rig.primed("\xfe", [&](const QByteArray &p) { rig.backend.sendOnVirtualSource(p); }));
    rig.emitter.send(0x90, 0x3c, 0x64);
    rig.emitter.send(0xb3, 0x07, 0x00);
    QTRY_COMPARE_WITH_TIMEOUT(rig.payload(), (QStringList{"90 3c 64", "b3 07 00"}), 3000);
}

void TestDaemonMidiJack::thruPassesMessagesUnchanged_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("note on") << QByteArray::fromHex("923c64");
    QTest::newRow("control change") << QByteArray::fromHex("b14000");
    QTest::newRow("sysex of 200 bytes") << sysexOf(200);
}

void TestDaemonMidiJack::thruPassesMessagesUnchanged()
{
    QFETCH(QByteArray, bytes);
    Rig rig;
    QVERIFY(rig.start());
    const QString peerName = rig.client + QStringLiteral("Src");
    MidiPeerProcess source;
    QVERIFY(source.start({QStringLiteral("send"), peerName}));
    QTRY_VERIFY_WITH_TIMEOUT(rig.offered(peerName), 3000);
    rig.thru.toggle(*rig.offered(peerName));

    QVERIFY(rig.primed("\xfe", [&](const QByteArray &p) { source.sendHex(p); }));
    source.sendHex(bytes);
    QTRY_COMPARE_WITH_TIMEOUT(rig.payload(), QStringList{QString::fromLatin1(bytes.toHex(' '))},
                              3000);
}

// Two ticked sources at once: every message of each arrives, each source in its order.
void TestDaemonMidiJack::twoSourcesInterleaveWithoutLoss()
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

    QVERIFY(rig.primed("\xfe", [&](const QByteArray &p) { a.sendHex(p); }));
    QVERIFY(rig.primed("\xfc", [&](const QByteArray &p) { b.sendHex(p); }));

    constexpr int perSource = 300;
    QStringList expectedA;
    QStringList expectedB;
    for (int i = 0; i < perSource; ++i) {
        QByteArray msgA = QByteArray::fromHex("90") + char(i % 128) + char(1 + i / 128);
        QByteArray msgB = QByteArray::fromHex("91") + char(i % 128) + char(1 + i / 128);
        a.sendHex(msgA);
        b.sendHex(msgB);
        expectedA.append(QString::fromLatin1(msgA.toHex(' ')));
        expectedB.append(QString::fromLatin1(msgB.toHex(' ')));
    }
    QTRY_COMPARE_WITH_TIMEOUT(rig.payload().size(), 2 * perSource, 5000);
    const QStringList lines = rig.payload();
    QCOMPARE(lines.filter(QRegularExpression("^90")), expectedA);
    QCOMPARE(lines.filter(QRegularExpression("^91")), expectedB);
}

QTEST_GUILESS_MAIN(TestDaemonMidiJack)
#include "tst_daemonmidijack.moc"
