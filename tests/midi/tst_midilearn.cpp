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
        QTEST(mappingtext::valueText(mapping), "value");
        QTEST(mappingtext::qualifierText(mapping), "qualifier");
    }

    // Everything goes the whole way: input thread, hop, classification, learning.
    void classification_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<MaybeMapping>("learnt");
        const auto row = [](const char *name, const char *hex, MaybeMapping learnt = {}) {
            QTest::newRow(name) << QByteArray::fromHex(hex) << learnt;
        };
        row("note on", "933c64", MappingData{0, 3, 60});
        row("velocity 0 is a note off", "903c00");
        row("note off", "803c40");
        row("controller value 0", "b90700", MappingData{1, 9, 7});
        row("only the first message counts", "903e01b00709", MappingData{0, 0, 62});
        row("sysex", "f07e7ff7");
        row("clock", "f8");
        row("running bytes", "3c64");
        row("pitch bend", "e00040");
        row("empty", "");
        row("note number 128", "908064");
        row("controller value 255", "b007ff");
        row("cut short", "b007");
    }
    void classification()
    {
        QFETCH(QByteArray, message);
        QFETCH(MaybeMapping, learnt);
        MidiFixture f({pedalA});
        f.manager->start();
        f.manager->selectSource(0);
        f.manager->setSelectedMappingTag(1);
        QVERIFY(f.play(pedalA, message));
        QVERIFY(f.manager->tempMappings().isEmpty()); // nothing is touched on the input thread
        f.deliver();
        const Learnt temp = f.manager->tempMappings();
        QCOMPARE(temp.contains(1) ? MaybeMapping(temp[1]) : MaybeMapping(), learnt);
    }

    void learningNeedsATileAndTheLastControlWins()
    {
        MidiFixture f({pedalA});
        f.manager->start();
        f.manager->selectSource(0);
        QSignalSpy told(f.manager.get(), &MIDIManager::mappingDataReceived);
        f.play(pedalA, QByteArray::fromHex("903c64"));
        f.deliver();
        QVERIFY(f.manager->tempMappings().isEmpty());
        f.manager->setSelectedMappingTag(4);
        f.play(pedalA, QByteArray::fromHex("903c64"));
        f.play(pedalA, QByteArray::fromHex("b1407f"));
        f.deliver();
        QCOMPARE(f.manager->tempMappings(), (Learnt{{4, {1, 1, 64}}}));
        QCOMPARE(told.count(), 2);
        QCOMPARE(told.last().at(1).toInt(), 4);
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
        MidiFixture f;
        f.mappings.nextMapping = MappingData{1, 5, 20}; // applied earlier: kept
        for (auto it = learnt.cbegin(); it != learnt.cend(); ++it)
            f.manager->updateTempMapping(it->msgType, it->channel, it->identifier, it.key());
        f.manager->setSelectedMappingTag(3);
        f.manager->applyMappings();
        QTEST(f.sender.messages, "sent");
        QVERIFY(f.manager->tempMappings().isEmpty());
        QCOMPARE(f.manager->selectedMappingTag(), 3);
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
        QVERIFY(!f.play(pedalA, QByteArray::fromHex("903d01")));
        f.deliver();
        QVERIFY(f.manager->tempMappings().isEmpty());
        QCOMPARE(f.store.lastPortUniqueID(), std::optional<qint64>(pedalB));
        f.manager->pickSource(-1);
        QVERIFY(f.backend.connectedSources().isEmpty());
        QCOMPARE(f.store.lastPortUniqueID(), std::optional<qint64>(-1));
        f.manager->pickSource(1);
        f.manager->pickSource(1); // again: stays connected
        QCOMPARE(f.backend.connectedSources(), QList<qint32>{pedalB});

        // A source gone between listing and picking is neither connected nor stored.
        {
            const QSignalBlocker notYetTold(f.backend);
            f.backend.removeSource(pedalA);
        }
        f.manager->pickSource(0);
        QVERIFY(f.backend.connectedSources().isEmpty());
        QCOMPARE(f.store.lastPortUniqueID(), std::optional<qint64>(pedalB));
    }

    void devicesComingAndGoing()
    {
        MidiFixture f({pedalA});
        f.manager->start();
        f.manager->selectSource(0);
        QSignalSpy updated(f.manager.get(), &MIDIManager::sourcesUpdated);
        f.backend.addSource(QString(), pedalB);
        QCOMPARE(f.manager->sourceNames(), (QStringList{"Pedal 1001", "Unknown"}));
        f.backend.removeSource(pedalA);
        QCOMPARE(f.manager->indexOfSelectedSource(), -1);
        f.backend.addSource(QStringLiteral("Pedal 1001"), pedalA); // cable back in
        QCOMPARE(f.backend.connectedSources(), QList<qint32>{pedalA});
        QCOMPARE(f.manager->indexOfSelectedSource(), 1);
        QCOMPARE(updated.count(), 3);
    }

    // Learning is then unavailable, said once in the log.
    void noMidiSystem()
    {
        MidiFixture f({pedalA});
        f.backend.client = -10830;
        f.manager->start();
        f.manager->start();
        QCOMPARE(f.log.count(QStringLiteral("Error creating MIDI client: -10830")), 1);
        f.manager->selectSource(0);
        QVERIFY(!f.play(pedalA, QByteArray::fromHex("903c01"))); // no input handler was set
    }

    // The input thread may deliver after the manager is gone.
    void inputAfterTheManagerIsGone()
    {
        MidiFixture f({pedalA});
        f.manager->start();
        f.backend.connectSource(pedalA);
        f.manager.reset();
        QVERIFY(f.play(pedalA, QByteArray::fromHex("903c01")));
        QCoreApplication::processEvents();
    }
};

QTEST_GUILESS_MAIN(TestMidiLearn)
#include "tst_midilearn.moc"
