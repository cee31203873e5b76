// SPDX-License-Identifier: MIT
#include "fakemidibackend.h"
#include "log.h"
#include "midithru.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr qint32 pedal = 1111;
constexpr qint32 keys = 2222;

// A started emitter and thru on the fake back-end, settings in a temp folder.
struct Rig
{
    QTemporaryDir dir;
    QSettings settings{dir.filePath(QStringLiteral("daemon.ini")), QSettings::IniFormat};
    FakeMidiBackend backend;
    MIDIEmitter emitter{backend};
    MIDIThru thru{backend, emitter, settings};

    void start()
    {
        emitter.start();
        thru.start();
    }
};

} // namespace

class TestMIDIThru final : public QObject
{
    Q_OBJECT

private slots:
    void ownSourceNeverOffered();
    void storedSelectionIsRead_data();
    void storedSelectionIsRead();
    void toggleTwiceRestoresEverything();
    void unpluggedSourceReturnsWithoutUserAction();
    void startLogsAndRetries_data();
    void startLogsAndRetries();
    void forwardsOnlySelectedSources();
};

void TestMIDIThru::ownSourceNeverOffered()
{
    Rig rig;
    rig.start();
    QVERIFY(rig.thru.availableSources().isEmpty()); // the fake lists "Marquell" itself
    QCOMPARE(rig.backend.sources().size(), 1);

    // Another device may be called "Marquell" too; only identity excludes ours.
    rig.backend.addSource(QStringLiteral("Marquell"), keys);
    rig.backend.addSource(QString(), pedal);
    QCOMPARE(rig.thru.availableSources(),
             (QList<ThruControl::Source>{{keys, "Marquell"}, {pedal, "Unknown Input"}}));
}

void TestMIDIThru::storedSelectionIsRead_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QSet<qint32>>("expected");
    QTest::newRow("unset") << QVariant() << QSet<qint32>{};
    QTest::newRow("a string") << QVariant(QStringLiteral("1111")) << QSet<qint32>{};
    QTest::newRow("one integer, not an array") << QVariant(1111) << QSet<qint32>{};
    QTest::newRow("integers") << QVariant(QVariantList{1111, -5, qint64(2222)})
                              << QSet<qint32>{1111, -5, 2222};
    QTest::newRow("a string among integers")
        << QVariant(QVariantList{1111, QStringLiteral("x")}) << QSet<qint32>{};
    QTest::newRow("a real among integers") << QVariant(QVariantList{1111, 2.5}) << QSet<qint32>{};
    QTest::newRow("outside 32 bits dropped")
        << QVariant(QVariantList{1111, qint64(1) << 32, qint64(-2147483649LL),
                                 quint64(4294967295ULL), qint64(-2147483648LL)})
        << QSet<qint32>{1111, std::numeric_limits<qint32>::min()};
}

void TestMIDIThru::storedSelectionIsRead()
{
    QFETCH(QVariant, stored);
    QFETCH(QSet<qint32>, expected);
    Rig rig;
    rig.settings.setValue("midiThruSourceIDs", stored);
    rig.settings.sync();
    QSettings reread(rig.settings.fileName(), QSettings::IniFormat);
    MIDIThru thru(rig.backend, rig.emitter, reread);
    QCOMPARE(thru.selectedSourceIDs(), expected);
}

void TestMIDIThru::toggleTwiceRestoresEverything()
{
    Rig rig;
    rig.backend.addSource(QStringLiteral("Pedal"), pedal);
    rig.backend.addSource(QStringLiteral("Keys"), keys);
    rig.settings.setValue("midiThruSourceIDs", QVariantList{keys});
    rig.start();
    QCOMPARE(rig.backend.connectedSources(), QList<qint32>{keys});

    rig.thru.toggle(pedal);
    QCOMPARE(rig.thru.selectedSourceIDs(), (QSet<qint32>{keys, pedal}));
    QCOMPARE(rig.backend.connectedSources().size(), 2);
    // What a restart reads back.
    QSettings reread(rig.settings.fileName(), QSettings::IniFormat);
    QCOMPARE(MIDIThru(rig.backend, rig.emitter, reread).selectedSourceIDs(),
             (QSet<qint32>{keys, pedal}));

    rig.thru.toggle(pedal);
    QCOMPARE(rig.thru.selectedSourceIDs(), QSet<qint32>{keys});
    QCOMPARE(rig.backend.connectedSources(), QList<qint32>{keys});
}

void TestMIDIThru::unpluggedSourceReturnsWithoutUserAction()
{
    Rig rig;
    rig.backend.addSource(QStringLiteral("Pedal"), pedal);
    rig.settings.setValue("midiThruSourceIDs", QVariantList{pedal});
    rig.start();
    QCOMPARE(rig.backend.connectedSources(), QList<qint32>{pedal});

    rig.backend.removeSource(pedal);
    QVERIFY(rig.backend.connectedSources().isEmpty());
    QCOMPARE(rig.thru.selectedSourceIDs(), QSet<qint32>{pedal}); // still ticked

    rig.backend.addSource(QStringLiteral("Pedal"), pedal);
    QCOMPARE(rig.backend.connectedSources(), QList<qint32>{pedal});
}

void TestMIDIThru::startLogsAndRetries_data()
{
    QTest::addColumn<int>("clientStatus");
    QTest::addColumn<int>("connectStatus");
    QTest::addColumn<QStringList>("lines");
    const QString created = "MIDIEmitter: virtual source 'Marquell' created";
    const QString ready = "MIDIThru: ready, 1 source(s) selected";
    QTest::newRow("connected") << 0 << 0 << QStringList{created, ready};
    QTest::newRow("connect refused")
        << 0 << -10830
        << QStringList{created, "MIDIThru: MIDIPortConnectSource failed for 1111 (-10830)", ready};
    QTest::newRow("no MIDI system")
        << -108 << 0
        << QStringList{"MIDIEmitter: MIDIClientCreateWithBlock failed (-108)",
                       "MIDIThru: MIDIClientCreateWithBlock failed (-108)"};
}

// A refused connection is left out and tried again by the next sync; without a MIDI
// system nothing ever connects.
void TestMIDIThru::startLogsAndRetries()
{
    QFETCH(int, clientStatus);
    QFETCH(int, connectStatus);
    QFETCH(QStringList, lines);
    Rig rig;
    rig.backend.addSource(QStringLiteral("Pedal"), pedal);
    rig.settings.setValue("midiThruSourceIDs", QVariantList{pedal});
    rig.backend.setClientStatus(clientStatus);
    rig.backend.setConnectStatus(connectStatus);
    mlog::Capture log;
    rig.start();
    QCOMPARE(log.systemLines(), lines);
    const QList<qint32> connected = clientStatus || connectStatus ? QList<qint32>{} : QList{pedal};
    QCOMPARE(rig.backend.connectedSources(), connected);

    rig.backend.setConnectStatus(0);
    rig.thru.sync();
    QCOMPARE(rig.backend.connectedSources(), clientStatus ? QList<qint32>{} : QList{pedal});
}

// Only ticked sources reach the virtual source, and their bytes pass untouched.
void TestMIDIThru::forwardsOnlySelectedSources()
{
    Rig rig;
    rig.backend.addSource(QStringLiteral("Pedal"), pedal);
    rig.backend.addSource(QStringLiteral("Keys"), keys);
    rig.settings.setValue("midiThruSourceIDs", QVariantList{pedal, keys});
    rig.start();
    rig.thru.toggle(keys);
    QVERIFY(!rig.backend.inject(keys, QByteArray::fromHex("b00700")));
    const QByteArray sysex = QByteArray::fromHex("f0") + QByteArray(198, 0x22) + '\xf7';
    QVERIFY(rig.backend.inject(pedal, sysex));
    QVERIFY(rig.backend.inject(pedal, QByteArray::fromHex("f8")));
    QCOMPARE(rig.backend.sent(), (QList<QByteArray>{sysex, QByteArray::fromHex("f8")}));
}

QTEST_GUILESS_MAIN(TestMIDIThru)
#include "tst_midithru.moc"
