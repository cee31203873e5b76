// SPDX-License-Identifier: MIT
#pragma once

#include "midibackend.h"

#include <QMutex>

// In-memory MIDI: tests add and remove sources, inject bytes as if a source played
// them, and read back what went out of the virtual source.
class FakeMidiBackend final : public MidiBackend
{
    Q_OBJECT

public:
    using MidiBackend::MidiBackend;

    // --- test controls ---
    void addSource(const QString &name, qint32 uniqueID); // emits sourcesChanged
    void removeSource(qint32 uniqueID);                   // disconnects it too
    // Delivers bytes from a source on the calling thread (use a std::thread to
    // stand in for the input thread); dropped when the source is not connected.
    bool inject(qint32 sourceID, const QByteArray &bytes);
    void setClientStatus(int status) { m_clientStatus = status; }
    void setConnectStatus(int status) { m_connectStatus = status; }
    void setOpenStatus(int status) { m_openStatus = status; }
    void setSendResult(SendResult result, int status = 0);
    QList<QByteArray> sent() const;

    // --- MidiBackend ---
    int clientStatus() const override { return m_clientStatus; }
    QString apiName() const override { return QStringLiteral("fake"); }
    QList<MidiSourceInfo> sources() const override;
    int connectSource(qint32 uniqueID) override;
    void disconnectSource(qint32 uniqueID) override;
    QList<qint32> connectedSources() const override;
    void setInputHandler(InputHandler handler) override { m_handler = std::move(handler); }
    int openVirtualSource(const QString &name) override;
    std::optional<qint32> virtualSourceID() const override { return m_virtualID; }
    SendResult sendOnVirtualSource(QByteArrayView bytes) override;
    int lastStatus() const override { return m_lastStatus; }

    static constexpr qint32 virtualID = 898018820;

private:
    mutable QMutex m_mutex;
    QList<MidiSourceInfo> m_sources;
    QList<qint32> m_connected;
    InputHandler m_handler;
    std::optional<qint32> m_virtualID;
    QList<QByteArray> m_sent;
    int m_clientStatus = 0;
    int m_connectStatus = 0;
    int m_openStatus = 0;
    SendResult m_sendResult = SendResult::Sent;
    int m_sendStatus = 0;
    int m_lastStatus = 0;
};
