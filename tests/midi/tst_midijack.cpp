// SPDX-License-Identifier: MIT
// MIDI learn on the real path: RtMidiBackend on a JACK server, a second JACK client
// (midipeer) as the foot controller.
#include "lastportstore.h"
#include "midimanager.h"
#include "midipeerprocess.h"
#include "recordingsender.h"
#include "rtmidibackend.h"
#include "transportmappings.h"

#include <QtTest>

class TestMidiJack : public QObject
{
    Q_OBJECT

private slots:
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
    }
};

QTEST_GUILESS_MAIN(TestMidiJack)
#include "tst_midijack.moc"
