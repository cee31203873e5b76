// SPDX-License-Identifier: MIT
// A phone setlist re-encoded for Live: no crash, and whatever goes to Live carries the
// same songs (id and name) in the same order as the records the phone sent.
#include "abletonsocket.h"
#include "livelinkcodec.h"
#include "log.h"

#include <QtEndian>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    mlog::Capture quiet;
    const QByteArray fromPhone = QByteArray(1, char(livelink::kSetlistSeparator)) +
                                 QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<QByteArray> forLive = AbletonSocket::setlistForLive(fromPhone);
    if (!forLive)
        return 0;

    QList<Song> sent;
    qsizetype offset = 1;
    while (offset < fromPhone.size() && quint8(fromPhone[offset]) != livelink::kSetlistSeparator) {
        std::optional<Song> song = livelink::readSongRecord(fromPhone, offset);
        if (!song)
            __builtin_trap(); // accepted, yet a record does not read
        sent.append(*song);
    }
    const QByteArray &out = *forLive;
    if (out.isEmpty() || quint8(out[0]) != livelink::kSetlistSeparator)
        __builtin_trap();
    qsizetype at = 1;
    for (const Song &song : sent) {
        if (out.size() - at < 9 || qFromBigEndian<quint64>(out.constData() + at) != song.id)
            __builtin_trap();
        at += 8;
        const qsizetype nameLength = quint8(out[at++]);
        if (out.size() - at < nameLength ||
            QString::fromUtf8(out.constData() + at, nameLength) != song.name)
            __builtin_trap();
        at += nameLength;
    }
    if (at != out.size())
        __builtin_trap();
    return 0;
}
