// SPDX-License-Identifier: MIT
#include "mappingtext.h"
#include "midifixture.h"
#include "midipeerprocess.h"
#include "rtmidibackend.h"

#include <QtTest>

#include <algorithm>

using namespace Qt::StringLiterals;
using MaybeMapping = std::optional<MappingData>;
using Learnt = QMap<int, MappingData>;
Q_DECLARE_METATYPE(MaybeMapping)

constexpr qint32 pedalA = 1001;
constexpr qint32 pedalB = -2002;

class TestMidiLearn : public QObject
{
    Q_OBJECT

private slots:
    void mappingText_data()
    {
        QTest::addColumn<MappingData>("mapping");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("qualifier");
        QTest::newRow("middle C") << MappingData{0, 0, 60} << u"C4"_s << u"Note · CH 1"_s;
        QTest::newRow("sharp") << MappingData{0, 15, 61} << u"C#4"_s << u"Note · CH 16"_s;
        QTest::newRow("lowest note") << MappingData{0, 0, 0} << u"C-1"_s << u"Note · CH 1"_s;
        QTest::newRow("highest note") << MappingData{0, 0, 127} << u"G9"_s << u"Note · CH 1"_s;
        QTest::newRow("controller") << MappingData{1, 9, 7} << u"CC 7"_s << u"CH 10"_s;
        QTest::newRow("system from Live") << MappingData{2, 2, 5} << u"5"_s << u"Sysex · CH 3"_s;
        QTest::newRow("unknown kind") << MappingData{9, 0, 3} << u"3"_s << u"Unknown · CH 1"_s;
    }
    void mappingText()
    {
        QFETCH(MappingData, mapping);
        QTEST(mappingtext::valueText(mapping), "value");
        QTEST(mappingtext::qualifierText(mapping), "qualifier");
    }

    // Everything goes the whole way: input thread, hop, classification, learning onto
    // the selected tile (-1: none).
    void classification_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<MaybeMapping>("learnt");
        QTest::addColumn<int>("tag");
        const auto row = [](const char *name, const char *hex, MaybeMapping learnt = {},
                            int tag = 1) {
            QTest::newRow(name) << QByteArray::fromHex(hex) << learnt << tag;
        };
        row("note on", "933c64", MappingData{0, 3, 60});
        row("no tile selected", "933c64", {}, -1);
        row("velocity 0 is a note off", "903c00");
        row("note off", "803c40");
        row("controller value 0", "b90700", MappingData{1, 9, 7});
        row("only the first message counts", "903e01b00709", MappingData{0, 0, 62});
        row("sysex", "f07e7ff7");
        row("clock", "f8");
        row("running bytes", "3c64");
        row("pitch bend", "e00040");
        row("poly key pressure, sent right after a key", "a33c40");
        row("empty", "");
        row("note number 128", "908064");
        row("controller value 255", "b007ff");
        row("cut short", "b007");
    }
    void classification()
    {
        QFETCH(QByteArray, message);
        QFETCH(MaybeMapping, learnt);
        QFETCH(int, tag);
        MidiFixture f({pedalA});
        f.manager->start();
        f.manager->selectSource(0);
        f.manager->setSelectedMappingTag(tag);
        QVERIFY(f.play(pedalA, message));
        QVERIFY(f.manager->tempMappings().isEmpty()); // nothing is touched on the input thread
        f.deliver();
        QCOMPARE(f.manager->tempMappings(), (learnt ? Learnt{{tag, *learnt}} : Learnt()));
        QVERIFY(!f.mappings.playMapping); // learnt, not applied
    }

    void restoreAtStart_data()
    {
        QTest::addColumn<qint64>("stored"); // 0: nothing stored
        QTest::addColumn<QList<qint32>>("connected");
        QTest::newRow("empty store") << qint64(0) << QList<qint32>();
        QTest::newRow("none selected") << qint64(-1) << QList<qint32>();
        QTest::newRow("found") << qint64(pedalB) << QList<qint32>{pedalB};
        QTest::newRow("not found") << qint64(77) << QList<qint32>();
        // Truncated, 2^32 + 1001 would select pedal A.
        QTest::newRow("beyond 32 bits") << (qint64(1) << 32) + pedalA << QList<qint32>();
    }
    void restoreAtStart()
    {
        QFETCH(qint64, stored);
        QFETCH(QList<qint32>, connected);
        MidiFixture f({pedalA, pedalB});
        if (stored != 0) {
            f.store.setLastPortUniqueID(stored);
            QVERIFY(f.store.save());
        }
        f.manager->start();
        QCOMPARE(f.backend.connectedSources(), connected);
        QCOMPARE(f.manager->indexOfSelectedSource(), connected.isEmpty() ? -1 : 1);
    }

    void pickingMovesTheOneInputAndIsRemembered()
    {
        MidiFixture f({pedalA, pedalB});
        f.manager->start();
        f.manager->setSelectedMappingTag(1);
        f.manager->pickSource(0);
        f.play(pedalA, QByteArray::fromHex("903c01")); // in flight while the performer switches
        f.manager->pickSource(1);
        QCOMPARE(f.backend.connectedSources(), QList<qint32>{pedalB});
        f.deliver();
        QVERIFY(f.manager->tempMappings().isEmpty());
        QCOMPARE(f.store.lastPortUniqueID(), std::optional<qint64>(pedalB));
        f.manager->pickSource(1); // again: stays connected
        QCOMPARE(f.backend.connectedSources(), QList<qint32>{pedalB});

        // A source gone between listing and picking is neither connected nor stored.
        const QSignalBlocker notYetTold(f.backend);
        f.backend.removeSource(pedalA);
        f.manager->pickSource(0);
        QVERIFY(f.backend.connectedSources().isEmpty());
        QCOMPARE(f.store.lastPortUniqueID(), std::optional<qint64>(pedalB));

        // The input thread may deliver after the manager is gone.
        f.backend.connectSource(pedalB);
        f.manager.reset();
        QVERIFY(f.play(pedalB, QByteArray::fromHex("903c01")));
        QCoreApplication::processEvents();
    }

    // Learning is then unavailable, said once in the log.
    void noMidiSystem()
    {
        MidiFixture f({pedalA});
        f.backend.faults.client = -10830;
        f.manager->start();
        f.manager->start();
        QCOMPARE(f.log.count(QStringLiteral("Error creating MIDI client: -10830")), 1);
        f.manager->selectSource(0);
        QVERIFY(!f.play(pedalA, QByteArray::fromHex("903c01"))); // no input handler was set
    }

    // The real path: RtMidiBackend on a JACK server, a second JACK client (midipeer) as
    // the foot controller.
    void pedalIsLearntAndUnpluggingIsSeen()
    {
        if (!MidiPeerProcess::jackRunning())
            QSKIP("no JACK server answers (scripts/test starts a private one)");
        RtMidiBackend backend(RtMidi::UNIX_JACK, QStringLiteral("MarquellLearnTest"));
        TransportMappings mappings;
        RecordingSender sender;
        LastPortStore lastPort(nullptr);
        MIDIManager manager(backend, mappings, sender, lastPort);
        manager.start();
        const QString pedal = QStringLiteral("FootPedal:FootPedal");
        auto peer = std::make_unique<MidiPeerProcess>();
        QVERIFY(peer->start({QStringLiteral("send"), QStringLiteral("FootPedal")}));
        QTRY_VERIFY(manager.sourceNames().contains(pedal));
        const int index = int(manager.sourceNames().indexOf(pedal));
        const qint32 id = manager.cachedMIDISources()[index].uniqueID;

        manager.pickSource(index);
        QCOMPARE(backend.connectedSources(), QList<qint32>{id});
        manager.setSelectedMappingTag(3);
        // The pedal is stepped on again until the new connection carries it.
        const auto stepOn = [&](const char *hex) {
            const QList<MappingData> before = manager.tempMappings().values();
            return MidiPeerProcess::resendUntil(
                [&] { peer->sendHex(QByteArray::fromHex(hex)); },
                [&] { return manager.tempMappings().values() != before; });
        };
        QVERIFY(stepOn("91407f"));
        QCOMPARE(manager.tempMappings().value(3), (MappingData{0, 1, 64}));
        QVERIFY(peer->finish());
        QTRY_VERIFY(!manager.sourceNames().contains(pedal));

        // Plugged back in: the selection holds and the pedal teaches again.
        peer = std::make_unique<MidiPeerProcess>();
        QVERIFY(peer->start({QStringLiteral("send"), QStringLiteral("FootPedal")}));
        QTRY_COMPARE(backend.connectedSources(), QList<qint32>{id});
        QVERIFY(stepOn("b00700"));
        QCOMPARE(manager.tempMappings().value(3), (MappingData{1, 0, 7}));

        // Unplugged and plugged back between two polls: the list looks the same, yet the
        // input must be opened anew on the port that came back.
        backend.setPollInterval(std::chrono::hours(1));
        RtMidiBackend probe(RtMidi::UNIX_JACK, QStringLiteral("MarquellReplugProbe"));
        const auto listed = [&] {
            probe.refresh();
            return std::ranges::count(probe.sources(), pedal, &MidiSourceInfo::name) == 1;
        };
        QVERIFY(peer->finish());
        QTRY_VERIFY(!listed());
        peer = std::make_unique<MidiPeerProcess>();
        QVERIFY(peer->start({QStringLiteral("send"), QStringLiteral("FootPedal")}));
        QTRY_VERIFY(listed());
        backend.refresh();
        QVERIFY(stepOn("b00800"));
        QCOMPARE(manager.tempMappings().value(3), (MappingData{1, 0, 8}));
    }
};

QTEST_GUILESS_MAIN(TestMidiLearn)
#include "tst_midilearn.moc"
