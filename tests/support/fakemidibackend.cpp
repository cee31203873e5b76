// SPDX-License-Identifier: MIT
#include "fakemidibackend.h"

#include <QMutexLocker>

void FakeMidiBackend::addSource(const QString &name, qint32 uniqueID)
{
    m_mutex.lock();
    m_sources.append({int(m_sources.size()), name, uniqueID});
    m_mutex.unlock();
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
    QMutexLocker lock(&m_mutex);
    const InputHandler handler = m_connected.contains(sourceID) ? m_handler : nullptr;
    lock.unlock();
    if (handler)
        handler(sourceID, bytes);
    return bool(handler);
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
    if (connectFails != 0)
        return connectFails;
    if (std::none_of(m_sources.cbegin(), m_sources.cend(),
                     [&](const MidiSourceInfo &s) { return s.uniqueID == uniqueID; }))
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
    if (openFails == 0)
        m_virtualID = virtualID;
    return openFails;
}

MidiBackend::SendResult FakeMidiBackend::sendOnVirtualSource(QByteArrayView bytes)
{
    QMutexLocker lock(&m_mutex);
    if (sendResult == SendResult::Sent)
        m_sent.append(bytes.toByteArray());
    return sendResult;
}
