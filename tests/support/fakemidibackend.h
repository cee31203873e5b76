// SPDX-License-Identifier: MIT
#pragma once

#include "midibackend.h"

// In-memory MIDI: tests add and remove sources, inject bytes as if a source played
// them, and read back what went out of the virtual source. No lock: a test's input
// thread runs while the main thread waits for it.
class FakeMidiBackend final : public MidiBackend
{
    Q_OBJECT

public:
    using MidiBackend::MidiBackend;
    static constexpr qint32 virtualID = 898018820;

    // What the back-end reports (statuses: 0 is success).
    struct Faults
    {
        int client = 0, open = 0, connect = 0;
        SendResult send = SendResult::Sent;
        int sendStatus = -7; // behind a Failed send
    } faults;

    void addSource(const QString &name, qint32 uniqueID); // emits sourcesChanged
    void removeSource(qint32 uniqueID);                   // disconnects it too
    // Delivers bytes from a source on the calling thread; false when the source is not
    // connected.
    bool inject(qint32 sourceID, const QByteArray &bytes);
    QList<QByteArray> sent() const { return m_sent; }

    int clientStatus() const override { return faults.client; }
    QString apiName() const override { return QStringLiteral("fake"); }
    QList<MidiSourceInfo> sources() const override;
    int connectSource(qint32 uniqueID) override;
    void disconnectSource(qint32 uniqueID) override { m_connected.removeAll(uniqueID); }
    QList<qint32> connectedSources() const override { return m_connected; }
    void setInputHandler(InputHandler handler) override { m_handler = std::move(handler); }
    int openVirtualSource(const QString &) override;
    std::optional<qint32> virtualSourceID() const override { return m_virtualID; }
    SendResult sendOnVirtualSource(QByteArrayView bytes) override;
    int lastStatus() const override { return faults.sendStatus; }

private:
    QList<MidiSourceInfo> m_sources;
    QList<qint32> m_connected;
    InputHandler m_handler;
    std::optional<qint32> m_virtualID;
    QList<QByteArray> m_sent;
};
