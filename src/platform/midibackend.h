// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// One MIDI source as the platform lists it. uniqueID is the identity to store and
// select by; index is only where enumeration found it this time.
struct MidiSourceInfo
{
    int index = 0;
    QString name;
    qint32 uniqueID = 0;

    friend bool operator==(const MidiSourceInfo &, const MidiSourceInfo &) = default;
};

// The process's one door to the platform's MIDI system: source enumeration, one
// logical input fed by every connected source, and one virtual source that other
// programs can open. Both programs make exactly one in their main() (the
// application for learning, the daemon for its virtual source and thru) and hand
// it by reference to whoever needs it; tests use an in-memory implementation.
//
// Threads: every method is called from the main thread, except
// sendOnVirtualSource, which may be called from any thread at once (the daemon's
// thru forwards from the input thread) and serialises internally. The input
// handler runs on the back-end's own input thread; consumers hop to the main
// thread before touching shared state. sourcesChanged is emitted on the main
// thread, only when the set of sources really changed.
class MidiBackend : public QObject
{
    Q_OBJECT

public:
    // One incoming message (raw bytes, SysEx whole) and the unique ID of its source.
    using InputHandler = std::function<void(qint32 sourceID, const QByteArray &bytes)>;

    enum class SendResult
    {
        Sent,
        Rejected, // the bytes could not be packed as one message; nothing was sent
        Failed    // the system refused to deliver; see lastStatus()
    };

    using QObject::QObject;
    ~MidiBackend() override = default;

    // 0 when the platform's MIDI system could be opened, else its status. A back-end
    // that could not open lists no sources and connects nothing, but never fails hard.
    virtual int clientStatus() const = 0;
    // A short human name of what is in use ("ALSA", "JACK", "CoreMIDI", "none").
    virtual QString apiName() const = 0;

    // Current sources in platform order, the back-end's own virtual source included
    // (consumers that must not offer it compare against virtualSourceID()).
    virtual QList<MidiSourceInfo> sources() const = 0;

    // Feed the source with this identity into the logical input. 0 on success
    // (already connected counts), else a status for the log line.
    virtual int connectSource(qint32 uniqueID) = 0;
    virtual void disconnectSource(qint32 uniqueID) = 0;
    virtual QList<qint32> connectedSources() const = 0;

    // Set once, before any source is connected.
    virtual void setInputHandler(InputHandler handler) = 0;

    // Creates the one virtual source; 0 on success, else a status. Its identity as
    // sources() will list it is virtualSourceID() from then on.
    virtual int openVirtualSource(const QString &name) = 0;
    virtual std::optional<qint32> virtualSourceID() const = 0;
    virtual SendResult sendOnVirtualSource(QByteArrayView bytes) = 0;
    // The status behind the last Failed result (for log lines).
    virtual int lastStatus() const = 0;

signals:
    void sourcesChanged();
};

// The platform's real back-end (RtMidi), named clientName towards the MIDI system.
// Never returns null: when no MIDI system can be opened the back-end says so
// through clientStatus() and works with an empty source list.
std::unique_ptr<MidiBackend> createMidiBackend(const QString &clientName);
