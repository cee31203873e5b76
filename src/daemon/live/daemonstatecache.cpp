// SPDX-License-Identifier: MIT
#include "daemonstatecache.h"

#include "livelinkcodec.h"
#include "log.h"
#include "phonerelay.h"

namespace {

void failAt(const char *message, qsizetype offset)
{
    mlog::out(QString::fromUtf8(message) + QString::number(offset));
}

} // namespace

void DaemonStateCache::updateSongData(const QByteArray &bytes)
{
    m_state.songData = bytes;
    if (m_setlistFromiOS) {
        m_setlistFromiOS = false;
        return;
    }
    m_phone->sendCached(m_state.songData, QStringLiteral("SongPool + Setlist"));
}

std::optional<qsizetype> DaemonStateCache::setlistStartOffset(QByteArrayView data)
{
    if (data.isEmpty() || static_cast<quint8>(data[0]) != quint8(livelink::ServerType::SongPool)) {
        mlog::out(QStringLiteral("Not a valid song pool header (missing 0x03)"));
        return std::nullopt;
    }
    const qsizetype end = data.size();
    qsizetype offset = 1;
    for (;;) {
        if (offset >= end) {
            mlog::out(QStringLiteral("No valid setlist start (0x04) found."));
            return std::nullopt;
        }
        // Structure only: the texts are not decoded here.
        if (end - offset < 8) {
            failAt("Incomplete song ID at offset ", offset);
            return std::nullopt;
        }
        qsizetype cursor = offset + 8;
        if (cursor >= end) {
            failAt("Incomplete name length at offset ", cursor);
            return std::nullopt;
        }
        const qsizetype nameLength = static_cast<quint8>(data[cursor]);
        ++cursor;
        if (end - cursor < nameLength) {
            failAt("Incomplete name bytes at offset ", cursor);
            return std::nullopt;
        }
        cursor += nameLength;
        if (cursor >= end) {
            failAt("Incomplete length string length at offset ", cursor);
            return std::nullopt;
        }
        const qsizetype textLength = static_cast<quint8>(data[cursor]);
        ++cursor;
        if (end - cursor < textLength) {
            failAt("Incomplete length string at offset ", cursor);
            return std::nullopt;
        }
        offset = cursor + textLength;
        if (offset < end && static_cast<quint8>(data[offset]) == livelink::kSetlistSeparator)
            return offset;
    }
}

void DaemonStateCache::mergeSetlistFromiOS(const QByteArray &bytes)
{
    // Set first and left set on failure: then the next song data from Live is the
    // one stored without being forwarded.
    m_setlistFromiOS = true;
    if (!m_state.songData) {
        mlog::out(QStringLiteral("Could not merge — invalid data"));
        return;
    }
    const std::optional<qsizetype> offset = setlistStartOffset(*m_state.songData);
    if (!offset) {
        mlog::out(QStringLiteral("Could not merge — invalid data"));
        return;
    }
    const QByteArray merged = m_state.songData->first(*offset) + bytes;
    updateSongData(merged);
    mlog::out(QStringLiteral("Merged new setlist into cached song data (") +
              QString::number(merged.size()) + QStringLiteral(" bytes)"));
}
