// SPDX-License-Identifier: MIT
#pragma once

#include "fakemidibackend.h"
#include "lastportstore.h"
#include "log.h"
#include "midimanager.h"
#include "persistentstore.h"
#include "recordingsender.h"
#include "transportmappings.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <memory>
#include <thread>

// A MIDI manager over the in-memory back-end, a recording Live link and a real store
// in a temporary folder; every log line captured.
struct MidiFixture
{
    mlog::Capture log;
    QTemporaryDir dir;
    FakeMidiBackend backend;
    TransportMappings mappings;
    RecordingSender sender;
    PersistentStore store;
    LastPortStore lastPort{&store};
    std::unique_ptr<MIDIManager> manager =
        std::make_unique<MIDIManager>(backend, mappings, sender, lastPort);

    explicit MidiFixture(const QList<qint32> &sourceIDs = {})
    {
        store.open(dir.path());
        for (qint32 id : sourceIDs)
            backend.addSource(QStringLiteral("Pedal %1").arg(id), id);
    }

    // Plays bytes on a thread of its own, as the back-end's input thread would; the
    // manager sees them only once the main thread delivers what was posted.
    bool play(qint32 sourceID, const QByteArray &bytes)
    {
        bool delivered = false;
        std::thread input([&] { delivered = backend.inject(sourceID, bytes); });
        input.join();
        return delivered;
    }
    void deliver() { QCoreApplication::sendPostedEvents(manager.get(), QEvent::MetaCall); }
};
