// SPDX-License-Identifier: MIT
#pragma once

#include "jackconnections.h"
#include "midibackend.h"

#include <RtMidi.h>

#include <QMutex>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>

// MidiBackend on RtMidi: ALSA or JACK on Linux, CoreMIDI on macOS. RtMidi has no
// device notifications, so the port list is polled on the main thread; it has no
// port IDs, so they come from the names (see midiportid.h).
//
// Statuses: 0 is success; a failure is -(100 + RtMidiError::Type), e.g. -108 for a
// driver error, and -200 when the ID names no present source.
class RtMidiBackend final : public MidiBackend
{
    Q_OBJECT

public:
    static constexpr int noSuchSource = -200;

    // api UNSPECIFIED tries the compiled APIs in RtMidi's order (ALSA before JACK).
    RtMidiBackend(RtMidi::Api api, const QString &clientName, QObject *parent = nullptr);
    ~RtMidiBackend() override;

    int clientStatus() const override { return m_clientStatus; }
    QString apiName() const override;
    QList<MidiSourceInfo> sources() const override { return m_sources; }
    int connectSource(qint32 uniqueID) override;
    void disconnectSource(qint32 uniqueID) override;
    QList<qint32> connectedSources() const override;
    void setInputHandler(InputHandler handler) override { m_handler = std::move(handler); }
    int openVirtualSource(const QString &name) override;
    std::optional<qint32> virtualSourceID() const override { return m_virtualID; }
    SendResult sendOnVirtualSource(QByteArrayView bytes) override;
    int lastStatus() const override { return m_lastStatus.loadRelaxed(); }

    // Re-reads the port list now (the timer does it every pollInterval), and opens
    // anew the inputs of sources that were unplugged and plugged back in meanwhile.
    void refresh();
    void setPollInterval(std::chrono::milliseconds interval) { m_poll.setInterval(interval); }

    // What an RtMidi error callback records; RtMidi reports through it instead of
    // throwing once one is set.
    // Before an object is live its errors are kept for the caller to read on the
    // same thread; a live input's errors (on RtMidi's thread) go to the log.
    struct ErrorRecord
    {
        std::atomic<bool> live = false;
        int status = 0;
        std::string text;
        void reset()
        {
            status = 0;
            text.clear();
        }
    };

private:
    struct Input;

    // The sources, and the names as the API gives them (ALSA's with client:port numbers).
    QList<MidiSourceInfo> enumerate(RtMidiIn &in, QStringList *apiNames = nullptr) const;
    bool wasReplugged(const Input &input, const QString &apiName) const;

    RtMidi::Api m_api = RtMidi::UNSPECIFIED;
    QString m_clientName;
    int m_clientStatus = 0;
    ErrorRecord m_probeError;
    std::unique_ptr<RtMidiIn> m_probe;       // enumerates; never opens a port
    std::unique_ptr<JackConnections> m_jack; // on JACK only
    QList<MidiSourceInfo> m_sources;
    QTimer m_poll;
    InputHandler m_handler;
    std::map<qint32, std::unique_ptr<Input>> m_inputs;

    QMutex m_outMutex; // sendOnVirtualSource runs on any thread at once
    std::unique_ptr<RtMidiOut> m_out;
    ErrorRecord m_outError;
    std::optional<qint32> m_virtualID;
    QAtomicInt m_lastStatus;
};
