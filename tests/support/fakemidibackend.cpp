// SPDX-License-Identifier: MIT
#include "fakemidibackend.h"

void FakeMidiBackend::addSource(const QString &name, qint32 uniqueID)
{
    m_sources.append({int(m_sources.size()), name, uniqueID});
    emit sourcesChanged();
}

void FakeMidiBackend::removeSource(qint32 uniqueID)
{
    m_sources.removeIf([&](const MidiSourceInfo &s) { return s.uniqueID == uniqueID; });
    for (int i = 0; i < m_sources.size(); ++i)
        m_sources[i].index = i;
    m_connected.removeAll(uniqueID);
    emit sourcesChanged();
}

bool FakeMidiBackend::inject(qint32 sourceID, const QByteArray &bytes)
{
    if (!m_connected.contains(sourceID) || !m_handler)
        return false;
    m_handler(sourceID, bytes);
    return true;
}

QList<MidiSourceInfo> FakeMidiBackend::sources() const
{
    QList<MidiSourceInfo> all = m_sources;
    if (m_virtualID)
        all.append({int(all.size()), QStringLiteral("Marquell"), *m_virtualID});
    return all;
}

int FakeMidiBackend::connectSource(qint32 uniqueID)
{
    if (faults.connect != 0)
        return faults.connect;
    if (std::ranges::find(m_sources, uniqueID, &MidiSourceInfo::uniqueID) == m_sources.end())
        return -50; // no such endpoint
    if (!m_connected.contains(uniqueID))
        m_connected.append(uniqueID);
    return 0;
}

int FakeMidiBackend::openVirtualSource(const QString &)
{
    if (faults.open == 0)
        m_virtualID = virtualID;
    return faults.open;
}

MidiBackend::SendResult FakeMidiBackend::sendOnVirtualSource(QByteArrayView bytes)
{
    if (faults.send == SendResult::Sent)
        m_sent.append(bytes.toByteArray());
    return faults.send;
}
