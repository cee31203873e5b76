// SPDX-License-Identifier: MIT
#include "fakemidibackend.h"

#include <QMutexLocker>

void FakeMidiBackend::addSource(const QString &name, qint32 uniqueID)
{
    {
        QMutexLocker lock(&m_mutex);
        m_sources.append({int(m_sources.size()), name, uniqueID});
    }
    emit sourcesChanged();
}

void FakeMidiBackend::removeSource(qint32 uniqueID)
{
    {
        QMutexLocker lock(&m_mutex);
        m_sources.removeIf([&](const MidiSourceInfo &s) { return s.uniqueID == uniqueID; });
        for (int i = 0; i < m_sources.size(); ++i)
            m_sources[i].index = i;
        m_connected.removeAll(uniqueID);
    }
    emit sourcesChanged();
}

bool FakeMidiBackend::inject(qint32 sourceID, const QByteArray &bytes)
{
    InputHandler handler;
    {
        QMutexLocker lock(&m_mutex);
        if (!m_connected.contains(sourceID) || !m_handler)
            return false;
        handler = m_handler;
    }
    handler(sourceID, bytes);
    return true;
}

void FakeMidiBackend::setSendResult(SendResult result, int status)
{
    QMutexLocker lock(&m_mutex);
    m_sendResult = result;
    m_sendStatus = status;
}

QList<QByteArray> FakeMidiBackend::sent() const
{
    QMutexLocker lock(&m_mutex);
    return m_sent;
}

QList<MidiSourceInfo> FakeMidiBackend::sources() const
{
    QMutexLocker lock(&m_mutex);
    QList<MidiSourceInfo> all = m_sources;
    if (m_virtualID)
        all.append({int(all.size()), QStringLiteral("Marquell"), *m_virtualID});
    return all;
}

int FakeMidiBackend::connectSource(qint32 uniqueID)
{
    QMutexLocker lock(&m_mutex);
    if (m_connectStatus != 0)
        return m_connectStatus;
    const bool present =
        std::any_of(m_sources.cbegin(), m_sources.cend(),
                    [&](const MidiSourceInfo &s) { return s.uniqueID == uniqueID; });
    if (!present)
        return -50; // no such endpoint
    if (!m_connected.contains(uniqueID))
        m_connected.append(uniqueID);
    return 0;
}

void FakeMidiBackend::disconnectSource(qint32 uniqueID)
{
    QMutexLocker lock(&m_mutex);
    m_connected.removeAll(uniqueID);
}

QList<qint32> FakeMidiBackend::connectedSources() const
{
    QMutexLocker lock(&m_mutex);
    return m_connected;
}

int FakeMidiBackend::openVirtualSource(const QString &)
{
    QMutexLocker lock(&m_mutex);
    if (m_openStatus != 0)
        return m_openStatus;
    m_virtualID = virtualID;
    return 0;
}

MidiBackend::SendResult FakeMidiBackend::sendOnVirtualSource(QByteArrayView bytes)
{
    QMutexLocker lock(&m_mutex);
    if (m_sendResult == SendResult::Sent)
        m_sent.append(bytes.toByteArray());
    m_lastStatus = m_sendStatus;
    return m_sendResult;
}
