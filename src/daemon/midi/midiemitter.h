// SPDX-License-Identifier: MIT
#pragma once

#include "midibackend.h"
#include "midisink.h"

#include <atomic>

// The daemon's virtual source "Marquell": what the phone plays (send, main thread)
// and what MIDI thru forwards (forward, the back-end's input thread) go out of it
// unchanged. Started once; a failed start leaves it not ready for good.
class MIDIEmitter final : public MidiSink
{
public:
    static constexpr const char *sourceName = "Marquell";

    explicit MIDIEmitter(MidiBackend &backend) : m_backend(backend) {}

    void start();
    bool isReady() const { return m_ready.load(std::memory_order_acquire); }

    void send(quint8 status, quint8 data1, quint8 data2) override;
    // Thru's path: any thread, bytes as they arrived; dropped silently when not ready.
    void forward(const QByteArray &bytes);

private:
    MidiBackend &m_backend;
    std::atomic<bool> m_ready = false;
};
