// SPDX-License-Identifier: MIT
// MIDI learn on the real path: RtMidiBackend on a JACK server, a second JACK client
// (midipeer) as the foot controller.
#include "lastportstore.h"
#include "log.h"
#include "midimanager.h"
#include "midipeerprocess.h"
#include "recordingsender.h"
#include "rtmidibackend.h"
#include "transportmappings.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

std::optional<MidiSourceInfo> findSource(const QList<MidiSourceInfo> &sources, const QString &part)
{
    for (const MidiSourceInfo &s : sources)
        if (s.name.contains(part))
            return s;
    return std::nullopt;
}

// JACK applies a new connection some cycles later; a message sent before that is lost,
// so the pedal is stepped on again until a mapping arrives (2 s at most).
bool stepUntilLearnt(MidiPeerProcess &peer, const QByteArray &bytes, QSignalSpy &learnt)
{
    const qsizetype before = learnt.count();
    for (int attempt = 0; attempt < 20; ++attempt) {
        peer.sendHex(bytes);
        if (QTest::qWaitFor([&] { return learnt.count() > before; }, 100))
            return true;
    }
    return false;
}

} // namespace

class TestMidiJack : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        if (!MidiPeerProcess::jackRunning())
            QSKIP("no JACK server answers (scripts/test starts a private one)");
    }

    void pedalIsLearntAndUnpluggingIsSeen()
    {
        mlog::Capture log;
        RtMidiBackend backend(RtMidi::UNIX_JACK, QStringLiteral("MarquellLearnTest"));
        TransportMappings mappings;
        RecordingSender sender;
        LastPortStore lastPort(nullptr);
        MIDIManager manager(backend, mappings, sender, lastPort);
        manager.start();

        auto peer = std::make_unique<MidiPeerProcess>();
        QVERIFY(peer->start({QStringLiteral("send"), QStringLiteral("FootPedal")}));
        QSignalSpy updated(&manager, &MIDIManager::sourcesUpdated);
        QTRY_VERIFY(findSource(manager.cachedMIDISources(), QStringLiteral("FootPedal")));
        const MidiSourceInfo pedal =
            *findSource(manager.cachedMIDISources(), QStringLiteral("FootPedal"));
        // Stable: another client, made later, names the pedal by the same ID.
        const RtMidiBackend other(RtMidi::UNIX_JACK, QStringLiteral("MarquellLearnTest2"));
        QCOMPARE(findSource(other.sources(), QStringLiteral("FootPedal"))->uniqueID,
                 pedal.uniqueID);

        manager.pickSource(int(manager.cachedMIDISources().indexOf(pedal)));
        QCOMPARE(backend.connectedSources(), QList<qint32>{pedal.uniqueID});
        manager.setSelectedMappingTag(3);
        QSignalSpy learnt(&manager, &MIDIManager::mappingDataReceived);
        QVERIFY(stepUntilLearnt(*peer, QByteArray("\x91\x40\x7f", 3), learnt));
        QCOMPARE(manager.tempMappings().value(3), (MappingData{0, 1, 64}));

        const int before = int(updated.count());
        QVERIFY(peer->finish());
        QTRY_VERIFY(updated.count() > before);
        QVERIFY(!findSource(manager.cachedMIDISources(), QStringLiteral("FootPedal")));
        QCOMPARE(manager.indexOfSelectedSource(), -1);

        // Plugged back in: the selection holds and the pedal teaches again.
        peer = std::make_unique<MidiPeerProcess>();
        QVERIFY(peer->start({QStringLiteral("send"), QStringLiteral("FootPedal")}));
        QTRY_COMPARE(backend.connectedSources(), QList<qint32>{pedal.uniqueID});
        QVERIFY(stepUntilLearnt(*peer, QByteArray("\xB0\x07\x00", 3), learnt));
        QCOMPARE(manager.tempMappings().value(3), (MappingData{1, 0, 7}));
    }
};

QTEST_GUILESS_MAIN(TestMidiJack)
#include "tst_midijack.moc"
