// SPDX-License-Identifier: MIT
#pragma once

#include "midibackend.h"
#include "midiemitter.h"
#include "thrucontrol.h"

#include <QObject>
#include <QSettings>

// Passes the inputs ticked in the "MIDI Thru" menu into the emitter's virtual
// source. The selection is kept by unique ID under "midiThruSourceIDs"; the
// connections follow it and the devices present at every sync (start, toggle,
// each change of the source list). Forwarding runs on the back-end's input thread
// and goes straight to the emitter, never through the main thread.
class MIDIThru final : public QObject, public ThruControl
{
    Q_OBJECT

public:
    static constexpr const char *settingsKey = "midiThruSourceIDs";

    MIDIThru(MidiBackend &backend, MIDIEmitter &emitter, QSettings &settings,
             QObject *parent = nullptr);

    void start();
    bool isReady() const { return m_ready; }

    QList<Source> availableSources() const override;
    QSet<qint32> selectedSourceIDs() const override;
    void toggle(qint32 id) override;
    void sync();

private:
    QList<MidiSourceInfo> presentSources() const;

    MidiBackend &m_backend;
    MIDIEmitter &m_emitter;
    QSettings &m_settings;
    QList<qint32> m_connected;
    bool m_ready = false;
};
