// SPDX-License-Identifier: MIT
#include "livelinkcodec.h"
#include "mappingtext.h"
#include "midifixture.h"

#include <QtTest>

using MaybeMapping = std::optional<MappingData>;
using Learnt = QMap<int, MappingData>;
Q_DECLARE_METATYPE(MaybeMapping)

namespace {

constexpr qint32 pedalA = 1001;
constexpr qint32 pedalB = -2002;

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

} // namespace

class TestMidiLearn : public QObject
{
    Q_OBJECT

private slots:
    void mappingText_data()
    {
        QTest::addColumn<MappingData>("mapping");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("qualifier");
        QTest::newRow("middle C") << MappingData{0, 0, 60} << "C4"
                                  << "Note · CH 1";
        QTest::newRow("sharp") << MappingData{0, 15, 61} << "C#4"
                               << "Note · CH 16";
        QTest::newRow("lowest note") << MappingData{0, 0, 0} << "C-1"
                                     << "Note · CH 1";
        QTest::newRow("highest note") << MappingData{0, 0, 127} << "G9"
                                      << "Note · CH 1";
        QTest::newRow("controller") << MappingData{1, 9, 7} << "CC 7"
                                    << "CH 10";
        QTest::newRow("system from Live") << MappingData{2, 2, 5} << "5"
                                          << "Sysex · CH 3";
        QTest::newRow("unknown kind") << MappingData{9, 0, 3} << "3"
                                      << "Unknown · CH 1";
    }
    void mappingText()
    {
        QFETCH(MappingData, mapping);
        QFETCH(QString, value);
        QFETCH(QString, qualifier);
        QCOMPARE(mappingtext::valueText(mapping), value);
        QCOMPARE(mappingtext::qualifierText(mapping), qualifier);
    }

    // Everything goes the whole way: input thread, hop, classification, learning.
    void classification_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<MaybeMapping>("learnt");
        QTest::addColumn<QString>("line");
        const QString skipped; // a learnt control's line is checked elsewhere
        QTest::newRow("note on") << bytes({0x93, 60, 100}) << MaybeMapping({0, 3, 60}) << skipped;
        QTest::newRow("velocity 0 is a note off")
            << bytes({0x90, 60, 0}) << MaybeMapping() << "Ignoring Note Off message.";
        QTest::newRow("note off") << bytes({0x80, 60, 64}) << MaybeMapping()
                                  << "Ignoring Note Off message.";
        QTest::newRow("controller value 0")
            << bytes({0xB9, 7, 0}) << MaybeMapping({1, 9, 7}) << skipped;
        QTest::newRow("only the first message counts")
            << bytes({0x90, 62, 1, 0xB0, 7, 9}) << MaybeMapping({0, 0, 62}) << skipped;
        QTest::newRow("sysex") << bytes({0xF0, 0x7E, 0x7F, 0xF7}) << MaybeMapping()
                               << "Sysex or non-mappable message received; not processed.";
        QTest::newRow("clock") << bytes({0xF8}) << MaybeMapping()
                               << "Sysex or non-mappable message received; not processed.";
        QTest::newRow("running bytes")
            << bytes({60, 100}) << MaybeMapping() << "Ignoring unknown message type.";
        QTest::newRow("pitch bend")
            << bytes({0xE0, 0, 64}) << MaybeMapping() << "Ignoring unknown message type.";
        QTest::newRow("empty") << QByteArray() << MaybeMapping()
                               << "Ignoring unknown message type.";
        QTest::newRow("note number 128") << bytes({0x90, 0x80, 100}) << MaybeMapping()
                                         << "Ignoring malformed MIDI message: 90 80 64";
        QTest::newRow("controller value 255") << bytes({0xB0, 7, 0xFF}) << MaybeMapping()
                                              << "Ignoring malformed MIDI message: b0 07 ff";
        QTest::newRow("cut short")
            << bytes({0xB0, 7}) << MaybeMapping() << "Ignoring malformed MIDI message: b0 07";
    }
    void classification()
    {
        QFETCH(QByteArray, message);
        QFETCH(MaybeMapping, learnt);
        QFETCH(QString, line);
        MidiFixture f({pedalA});
        f.manager->start();
        f.manager->selectSource(0);
        f.manager->setSelectedMappingTag(1);
        QVERIFY(f.play(pedalA, message));
        // Nothing is touched on the input thread.
        QVERIFY(f.manager->tempMappings().isEmpty());
        f.deliver();
        QCOMPARE(f.manager->tempMappings().contains(1) ? MaybeMapping(f.manager->tempMappings()[1])
                                                       : MaybeMapping(),
                 learnt);
        if (!line.isEmpty())
            QCOMPARE(f.log.messages().constLast(), line);
    }

    void learningNeedsATileAndTheLastControlWins()
    {
        MidiFixture f({pedalA});
        f.manager->start();
        f.manager->selectSource(0);
        QSignalSpy told(f.manager.get(), &MIDIManager::mappingDataReceived);
        f.play(pedalA, bytes({0x90, 60, 100}));
        f.deliver();
        QVERIFY(f.log.contains(QStringLiteral("Unknown tag: -1. No mapping updated.")));
        QVERIFY(f.manager->tempMappings().isEmpty());

        f.manager->setSelectedMappingTag(4);
        f.play(pedalA, bytes({0x90, 60, 100}));
        f.play(pedalA, bytes({0xB1, 64, 127}));
        f.deliver();
        QCOMPARE(f.manager->tempMappings(), (Learnt{{4, {1, 1, 64}}}));
        QCOMPARE(told.count(), 2);
        QCOMPARE(told.last().at(1).toInt(), 4);
        QVERIFY(
            f.log.contains(QStringLiteral("Temporary mapping updated for tag 4: "
                                          "MappingData(msgType: 1, channel: 1, identifier: 64)")));
        QVERIFY(!f.mappings.nextMapping); // learnt, not applied
    }

    void applySendsAllFour_data()
    {
        QTest::addColumn<Learnt>("learnt");
        QTest::addColumn<QList<QByteArray>>("sent");
        using namespace livelink;
        QTest::newRow("nothing learnt clears all four")
            << Learnt()
            << QList<QByteArray>{encodeClearMapping(1), encodeClearMapping(2),
                                 encodeClearMapping(3), encodeSetMapping(5, 1, 20, 4)};
        QTest::newRow("learnt controls join the applied one")
            << Learnt{{1, {0, 0, 60}}, {3, {1, 2, 7}}, {9, {0, 0, 1}}}
            << QList<QByteArray>{encodeSetMapping(0, 0, 60, 1), encodeClearMapping(2),
                                 encodeSetMapping(2, 1, 7, 3), encodeSetMapping(5, 1, 20, 4)};
    }
    void applySendsAllFour()
    {
        QFETCH(Learnt, learnt);
        QFETCH(QList<QByteArray>, sent);
        MidiFixture f;
        f.mappings.nextMapping = MappingData{1, 5, 20}; // applied earlier: kept
        for (auto it = learnt.cbegin(); it != learnt.cend(); ++it)
            f.manager->updateTempMapping(it->msgType, it->channel, it->identifier, it.key());
        f.manager->setSelectedMappingTag(3);
        f.manager->applyMappings();
        QCOMPARE(f.sender.messages, sent);
        QVERIFY(f.manager->tempMappings().isEmpty());
        QCOMPARE(f.manager->selectedMappingTag(), 3);
        QCOMPARE(f.log.count(QStringLiteral("Unknown tag: 9. No mapping applied.")),
                 learnt.contains(9) ? 1 : 0);
        QCOMPARE(f.log.messages().constLast(),
                 QStringLiteral("Mappings applied and temporary state cleared."));
    }

    void restoreAtStart_data()
    {
        QTest::addColumn<qint64>("stored"); // 0: nothing stored
        QTest::addColumn<QList<qint32>>("connected");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("empty store")
            << qint64(0) << QList<qint32>()
            << QStringList{"No last MIDI port found in Core Data.", "No MIDI source selected.",
                           "Restored state: No Port Selected"};
        QTest::newRow("none selected") << qint64(-1) << QList<qint32>()
                                       << QStringList{"Last MIDI port state: No Port Selected",
                                                      "Restored state: No Port Selected"};
        QTest::newRow("found") << qint64(pedalB) << QList<qint32>{pedalB}
                               << QStringList{"Retrieved last MIDI port with unique ID: -2002",
                                              "Connected to MIDI Source: -2002",
                                              "Restored last used MIDI port with unique ID: -2002"};
        QTest::newRow("not found")
            << qint64(77) << QList<qint32>()
            << QStringList{"Last used MIDI port with unique ID 77 not found."};
        // Truncated, 2^32 + 1001 would select pedal A.
        QTest::newRow("beyond 32 bits")
            << (qint64(1) << 32) + pedalA << QList<qint32>()
            << QStringList{"Ignoring stored MIDI port unique ID 4294968297: not a 32-bit ID.",
                           "Restored state: No Port Selected"};
    }
    void restoreAtStart()
    {
        QFETCH(qint64, stored);
        QFETCH(QList<qint32>, connected);
        QFETCH(QStringList, lines);
        MidiFixture f({pedalA, pedalB});
        if (stored != 0) {
            f.store.setLastPortUniqueID(stored);
            QVERIFY(f.store.save());
        }
        f.manager->start();
        QCOMPARE(f.backend.connectedSources(), connected);
        for (const QString &line : lines)
            QVERIFY2(f.log.contains(line), qPrintable(f.log.messages().join('\n')));
        QCOMPARE(f.manager->indexOfSelectedSource(), connected.isEmpty() ? -1 : 1);
    }

    void pickingMovesTheOneInputAndIsRemembered()
    {
        MidiFixture f({pedalA, pedalB});
        f.manager->start();
        f.manager->setSelectedMappingTag(1);
        f.manager->pickSource(0);
        f.play(pedalA, bytes({0x90, 60, 1})); // in flight while the performer switches
        f.manager->pickSource(1);
        QCOMPARE(f.backend.connectedSources(), QList<qint32>{pedalB});
        QVERIFY(!f.play(pedalA, bytes({0x90, 61, 1})));
        f.deliver();
        QVERIFY(f.manager->tempMappings().isEmpty());
        QCOMPARE(f.store.lastPortUniqueID(), std::optional<qint64>(pedalB));

        f.manager->pickSource(1); // again: stays connected
        QCOMPARE(f.backend.connectedSources(), QList<qint32>{pedalB});
        f.manager->pickSource(-1);
        QVERIFY(f.backend.connectedSources().isEmpty());
        QCOMPARE(f.store.lastPortUniqueID(), std::optional<qint64>(-1));
        QVERIFY(f.log.contains(QStringLiteral("Saved state as 'No Port Selected'")));

        // A source gone between listing and picking is neither connected nor stored.
        {
            const QSignalBlocker notYetTold(f.backend);
            f.backend.removeSource(pedalA);
        }
        f.manager->pickSource(0);
        QVERIFY(f.backend.connectedSources().isEmpty());
        QCOMPARE(f.store.lastPortUniqueID(), std::optional<qint64>(-1));
        QVERIFY(f.log.contains(QStringLiteral("Failed to connect MIDI Source: 1001. Error: -50")));
    }

    void devicesComingAndGoing()
    {
        MidiFixture f({pedalA});
        f.manager->start();
        f.manager->selectSource(0);
        QSignalSpy updated(f.manager.get(), &MIDIManager::sourcesUpdated);
        f.backend.addSource(QString(), pedalB);
        QCOMPARE(updated.count(), 1);
        QCOMPARE(f.manager->sourceNames(), (QStringList{"Pedal 1001", "Unknown"}));
        f.backend.removeSource(pedalA);
        QCOMPARE(f.manager->indexOfSelectedSource(), -1);
        f.backend.addSource(QStringLiteral("Pedal 1001"), pedalA); // cable back in
        QCOMPARE(f.backend.connectedSources(), QList<qint32>{pedalA});
        QCOMPARE(f.manager->indexOfSelectedSource(), 1);
        QCOMPARE(updated.count(), 3);
    }

    void noMidiSystem()
    {
        MidiFixture f({pedalA});
        f.backend.setClientStatus(-10830);
        f.manager->start();
        f.manager->start(); // logged once
        QCOMPARE(f.log.count(QStringLiteral("Error creating MIDI client: -10830")), 1);
        f.manager->selectSource(0);
        QVERIFY(!f.play(pedalA, bytes({0x90, 60, 1}))); // no input handler was set
    }

    // The input thread may deliver after the manager is gone.
    void inputAfterTheManagerIsGone()
    {
        MidiFixture f({pedalA});
        f.manager->start();
        f.backend.connectSource(pedalA);
        f.manager.reset();
        QVERIFY(f.play(pedalA, bytes({0x90, 60, 1})));
        QCoreApplication::processEvents();
    }
};

QTEST_GUILESS_MAIN(TestMidiLearn)
#include "tst_midilearn.moc"
