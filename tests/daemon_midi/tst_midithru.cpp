// SPDX-License-Identifier: MIT
#include "fakemidibackend.h"
#include "log.h"
#include "midithru.h"

#include <QSignalSpy>
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
    // The stored selection as a fresh QSettings reads it back from disk.
    QVariant stored() const
    {
        return QSettings(settings.fileName(), QSettings::IniFormat).value("midiThruSourceIDs");
    }
};

QSet<qint32> asSet(const QList<qint32> &ids)
{
    return {ids.cbegin(), ids.cend()};
}

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
    void failedConnectIsLoggedAndRetried();
    void forwardsOnlySelectedSources();
    void noMidiSystemLeavesItOff();
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
    QTest::addColumn<QList<qint32>>("expected");
    QTest::newRow("unset") << QVariant() << QList<qint32>{};
    QTest::newRow("a string") << QVariant(QStringLiteral("1111")) << QList<qint32>{};
    QTest::newRow("one integer, not an array") << QVariant(1111) << QList<qint32>{};
    QTest::newRow("integers") << QVariant(QVariantList{1111, -5, qint64(2222)})
                              << QList<qint32>{1111, -5, 2222};
    QTest::newRow("a string among integers")
        << QVariant(QVariantList{1111, QStringLiteral("x")}) << QList<qint32>{};
    QTest::newRow("a real among integers") << QVariant(QVariantList{1111, 2.5}) << QList<qint32>{};
    QTest::newRow("outside 32 bits dropped")
        << QVariant(QVariantList{1111, qint64(1) << 32, qint64(-2147483649LL),
                                 quint64(4294967295ULL), qint64(-2147483648LL)})
        << QList<qint32>{1111, std::numeric_limits<qint32>::min()};
}

void TestMIDIThru::storedSelectionIsRead()
{
    QFETCH(QVariant, stored);
    QFETCH(QList<qint32>, expected);
    Rig rig;
    rig.settings.setValue("midiThruSourceIDs", stored);
    rig.settings.sync();
    // Read through a fresh QSettings: what a restart sees.
    QSettings reread(rig.settings.fileName(), QSettings::IniFormat);
    MIDIThru thru(rig.backend, rig.emitter, reread);
    QCOMPARE(thru.selectedSourceIDs(), asSet(expected));
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
    QCOMPARE(asSet(rig.backend.connectedSources()), (QSet<qint32>{keys, pedal}));
    QCOMPARE(rig.stored().toList().size(), 2);

    rig.thru.toggle(pedal);
    QCOMPARE(rig.thru.selectedSourceIDs(), QSet<qint32>{keys});
    QCOMPARE(rig.backend.connectedSources(), QList<qint32>{keys});
    QCOMPARE(rig.stored().toList(), QVariantList{keys});
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

void TestMIDIThru::failedConnectIsLoggedAndRetried()
{
    Rig rig;
    rig.backend.addSource(QStringLiteral("Pedal"), pedal);
    rig.settings.setValue("midiThruSourceIDs", QVariantList{pedal});
    rig.backend.setConnectStatus(-10830);
    mlog::Capture log;
    rig.start();
    QCOMPARE(log.systemLines(),
             (QStringList{"MIDIEmitter: virtual source 'Marquell' created",
                          "MIDIThru: MIDIPortConnectSource failed for 1111 (-10830)",
                          "MIDIThru: ready, 1 source(s) selected"}));
    QVERIFY(rig.backend.connectedSources().isEmpty());

    rig.backend.setConnectStatus(0);
    rig.thru.sync();
    QCOMPARE(rig.backend.connectedSources(), QList<qint32>{pedal});
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

void TestMIDIThru::noMidiSystemLeavesItOff()
{
    Rig rig;
    rig.backend.setClientStatus(-108);
    rig.backend.addSource(QStringLiteral("Pedal"), pedal);
    rig.settings.setValue("midiThruSourceIDs", QVariantList{pedal});
    mlog::Capture log;
    rig.start();
    QVERIFY(!rig.thru.isReady());
    QVERIFY(log.systemLines().contains("MIDIThru: MIDIClientCreateWithBlock failed (-108)"));
    QVERIFY(rig.backend.connectedSources().isEmpty());
}

QTEST_GUILESS_MAIN(TestMIDIThru)
#include "tst_midithru.moc"
