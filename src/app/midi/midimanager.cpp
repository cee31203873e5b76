// SPDX-License-Identifier: MIT
#include "midimanager.h"

#include "lastportstore.h"
#include "livelinksender.h"
#include "log.h"
#include "midiclassifier.h"
#include "transportmappings.h"

#include <QMutex>
#include <QMutexLocker>

// The input thread may still deliver while the manager is going away; it reaches the
// manager only through this gate, which the destructor closes.
struct MIDIManager::InputGate
{
    QMutex mutex;
    MIDIManager *target = nullptr;
};

MIDIManager::MIDIManager(MidiBackend &backend, TransportMappings &mappings, LiveLinkSender &sender,
                         LastPortStore &lastPort, QObject *parent)
    : QObject(parent), m_backend(backend), m_mappings(mappings), m_sender(sender),
      m_lastPort(lastPort), m_gate(std::make_shared<InputGate>())
{
    m_gate->target = this;
}

MIDIManager::~MIDIManager()
{
    {
        QMutexLocker lock(&m_gate->mutex);
        m_gate->target = nullptr;
    }
    disconnectSelected();
}

void MIDIManager::start()
{
    setupMIDI();
    refreshSources();
    restoreLastPort();
    // A mapping window reopened before launch finished lists the sources now.
    emit sourcesUpdated();
}

void MIDIManager::setupMIDI()
{
    if (m_setUpDone)
        return; // a failure is not retried: it is logged once
    m_setUpDone = true;
    if (const int status = m_backend.clientStatus(); status != 0) {
        // Learning is then unavailable; the window still lists (no) sources.
        mlog::out(QStringLiteral("Error creating MIDI client: %1").arg(status));
        return;
    }
    m_backend.setInputHandler([gate = m_gate](qint32 sourceID, const QByteArray &bytes) {
        QMutexLocker lock(&gate->mutex);
        if (MIDIManager *manager = gate->target) {
            QMetaObject::invokeMethod(
                manager, [manager, sourceID, bytes] { manager->handleMessage(sourceID, bytes); },
                Qt::QueuedConnection);
        }
    });
    connect(&m_backend, &MidiBackend::sourcesChanged, this, &MIDIManager::sourcesDidChange);
    mlog::out(QStringLiteral("MIDI client and input port initialized."));
}

bool MIDIManager::midiSystemFound() const
{
    return m_backend.clientStatus() == 0;
}

void MIDIManager::refreshSources()
{
    QList<MidiSourceInfo> sources = m_backend.sources();
    // Our own virtual source is no input to learn from.
    if (const std::optional<qint32> own = m_backend.virtualSourceID())
        sources.removeIf([&](const MidiSourceInfo &s) { return s.uniqueID == *own; });
    for (MidiSourceInfo &s : sources) {
        if (s.name.isEmpty())
            s.name = QStringLiteral("Unknown");
    }
    m_sources = sources;
}

void MIDIManager::sourcesDidChange()
{
    refreshSources();
    // A controller whose cable was pulled and put back teaches again without a visit
    // to the mapping window.
    if (m_selected && indexOfSelectedSource() >= 0 &&
        !m_backend.connectedSources().contains(*m_selected) &&
        m_backend.connectSource(*m_selected) == 0) {
        mlog::out(QStringLiteral("Reconnected to MIDI Source: %1").arg(*m_selected));
    }
    emit sourcesUpdated();
}

QStringList MIDIManager::sourceNames() const
{
    QStringList names;
    for (const MidiSourceInfo &s : m_sources)
        names.append(s.name);
    return names;
}

int MIDIManager::indexOfSelectedSource() const
{
    if (!m_selected) {
        mlog::out(QStringLiteral("No selected MIDI source."));
        return -1;
    }
    mlog::out(QStringLiteral("Unique ID for selected MIDI source: %1").arg(*m_selected));
    for (int i = 0; i < m_sources.size(); ++i) {
        if (m_sources[i].uniqueID == *m_selected) {
            mlog::out(QStringLiteral("Found matching cached source at index %1.").arg(i));
            return i;
        }
    }
    mlog::out(QStringLiteral("No matching cached source for unique ID %1.").arg(*m_selected));
    return -1;
}

void MIDIManager::disconnectSelected()
{
    if (m_selected)
        m_backend.disconnectSource(*m_selected);
}

bool MIDIManager::selectSource(int index)
{
    if (index == -1) {
        disconnectSelected();
        m_selected.reset();
        mlog::out(QStringLiteral("No MIDI source selected."));
        return true;
    }
    if (index < 0 || index >= m_sources.size()) {
        disconnectSelected();
        m_selected.reset();
        mlog::out(QStringLiteral("No MIDI source at index %1.").arg(index));
        return false;
    }
    // Identity, never the position: the platform's numbering moves as devices come and go.
    const qint32 id = m_sources[index].uniqueID;
    if (m_selected && *m_selected != id)
        disconnectSelected();
    m_selected.reset();
    if (const int status = m_backend.connectSource(id); status != 0) {
        mlog::out(
            QStringLiteral("Failed to connect MIDI Source: %1. Error: %2").arg(id).arg(status));
        return false;
    }
    m_selected = id;
    mlog::out(QStringLiteral("Connected to MIDI Source: %1").arg(id));
    return true;
}

void MIDIManager::pickSource(int index)
{
    if (!selectSource(index))
        return; // a source that vanished meanwhile is not remembered
    m_lastPort.saveLastPortUniqueID(m_selected);
}

void MIDIManager::restoreLastPort()
{
    const std::optional<qint32> id = m_lastPort.loadLastPortUniqueID();
    if (!id) {
        m_selected.reset();
        mlog::out(QStringLiteral("No MIDI source selected."));
        mlog::out(QStringLiteral("Restored state: No Port Selected"));
        return;
    }
    for (int i = 0; i < m_sources.size(); ++i) {
        if (m_sources[i].uniqueID == *id) {
            selectSource(i);
            mlog::out(QStringLiteral("Restored last used MIDI port with unique ID: %1").arg(*id));
            return;
        }
    }
    mlog::out(QStringLiteral("Last used MIDI port with unique ID %1 not found.").arg(*id));
}

void MIDIManager::setSelectedMappingTag(int tag)
{
    m_selectedMappingTag = tag;
    mlog::out(QStringLiteral("Updated selectedMappingTag to %1").arg(tag));
}

void MIDIManager::handleMessage(qint32 sourceID, const QByteArray &bytes)
{
    // Sent before the selection moved away from its source: not the performer's pick.
    if (m_selected != sourceID)
        return;
    const MidiClassification result = classifyMidi(bytes);
    if (!result.mapping) {
        mlog::out(result.logLine);
        return;
    }
    const MappingData &m = *result.mapping;
    updateTempMapping(m.msgType, m.channel, m.identifier, m_selectedMappingTag);
}

void MIDIManager::updateTempMapping(int msgType, int channel, int identifier, int tag)
{
    if (tag == -1) {
        mlog::out(QStringLiteral("Unknown tag: -1. No mapping updated."));
        return;
    }
    const MappingData mapping{msgType, channel, identifier};
    m_tempMappings.insert(tag, mapping);
    emit mappingDataReceived(mapping, tag);
    mlog::out(QStringLiteral("Temporary mapping updated for tag %1: "
                             "MappingData(msgType: %2, channel: %3, identifier: %4)")
                  .arg(tag)
                  .arg(msgType)
                  .arg(channel)
                  .arg(identifier));
}

void MIDIManager::applyMappings()
{
    for (auto it = m_tempMappings.cbegin(); it != m_tempMappings.cend(); ++it)
        m_mappings.setMapping(it.key(), it.value());
    m_mappings.sendAll(m_sender);
    m_tempMappings.clear();
    mlog::out(QStringLiteral("Mappings applied and temporary state cleared."));
}

bool MIDIManager::unmapTag(int tag)
{
    m_tempMappings.remove(tag);
    if (tag < 1 || tag > 4) {
        mlog::out(QStringLiteral("Invalid tag: %1. No mapping removed.").arg(tag));
        return false;
    }
    m_mappings.setMapping(tag, std::nullopt);
    return true;
}

void MIDIManager::removeSelectedMapping()
{
    const int tag = m_selectedMappingTag;
    if (tag == -1)
        return;
    if (unmapTag(tag))
        m_sender.sendClearMapping(tag);
    setSelectedMappingTag(-1);
}

void MIDIManager::clearAllMappings()
{
    for (int tag = 1; tag <= 4; ++tag)
        unmapTag(tag);
    m_sender.sendClearAllMappings();
    setSelectedMappingTag(-1);
}
