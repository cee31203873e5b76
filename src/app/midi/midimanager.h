// SPDX-License-Identifier: MIT
#pragma once

#include "mappingdata.h"
#include "midibackend.h"

#include <QMap>
#include <QObject>
#include <QStringList>

#include <memory>
#include <optional>

class LastPortStore;
class LiveLinkSender;
class TransportMappings;

// The application's MIDI: the source list, the one selected input, and the learning
// of the four transport controls (tags 1 play, 2 stop, 3 previous, 4 next). One per
// process, made by the composition root. Main thread only: the back-end's input
// thread only posts each message here, and learning happens when it arrives.
//
// The application never acts on a mapped control itself; the mappings go to Live,
// which sends them back into TransportMappings.
class MIDIManager final : public QObject
{
    Q_OBJECT

public:
    MIDIManager(MidiBackend &backend, TransportMappings &mappings, LiveLinkSender &sender,
                LastPortStore &lastPort, QObject *parent = nullptr);
    ~MIDIManager() override;

    // setupMIDI, refreshSources and restoreLastPort, in this order; once, at launch.
    void start();
    void setupMIDI();
    void refreshSources();

    // False when the platform has no MIDI system to open (no ALSA sequencer, no JACK).
    bool midiSystemFound() const;
    const QList<MidiSourceInfo> &cachedMIDISources() const { return m_sources; }
    QStringList sourceNames() const;
    std::optional<qint32> selectedSourceID() const { return m_selected; }
    // Position of the selected source in cachedMIDISources(), or -1.
    int indexOfSelectedSource() const;
    // index: a position in cachedMIDISources(), or -1 for none. The source picked
    // before is disconnected, so only the selected one teaches. True when the picked
    // source is now the connected selection (or -1 was asked for).
    bool selectSource(int index);
    // What the MIDI PORT menu does: select, then remember the pick for the next start.
    void pickSource(int index);
    void restoreLastPort();

    int selectedMappingTag() const { return m_selectedMappingTag; }
    void setSelectedMappingTag(int tag);
    void updateTempMapping(int msgType, int channel, int identifier, int tag);
    const QMap<int, MappingData> &tempMappings() const { return m_tempMappings; }
    // The learnt controls become the four mappings; all four go to Live.
    void applyMappings();

    // Drops the tag's learnt and applied control; false (and nothing more) for a
    // tag that is no transport.
    bool unmapTag(int tag);
    // "Remove": unmaps the tile being learnt and clears it in Live at once.
    void removeSelectedMapping();
    // "Clear All": unmaps all four and sends the one clear-all message.
    void clearAllMappings();

    TransportMappings &mappings() { return m_mappings; }

signals:
    // The source list was rebuilt: at start, or because devices came or went.
    void sourcesUpdated();
    // A control was learnt for tag (not yet applied).
    void mappingDataReceived(const MappingData &mapping, int tag);

private:
    struct InputGate;

    void sourcesDidChange();
    void handleMessage(qint32 sourceID, const QByteArray &bytes);
    void disconnectSelected();

    MidiBackend &m_backend;
    TransportMappings &m_mappings;
    LiveLinkSender &m_sender;
    LastPortStore &m_lastPort;
    std::shared_ptr<InputGate> m_gate;
    QList<MidiSourceInfo> m_sources;
    std::optional<qint32> m_selected;
    int m_selectedMappingTag = -1;
    QMap<int, MappingData> m_tempMappings;
    bool m_setUpDone = false;
};
