// SPDX-License-Identifier: MIT
// The daemon's walk over cached song data and its merge of a phone setlist. The first
// byte splits the input into the cached type 3 payload and the phone's setlist. No
// crash; the walk only names an offset that holds the separator; the merge keeps the
// cached pool and ends with the phone's bytes.
#include "daemonstatecache.h"
#include "livelinkcodec.h"
#include "log.h"
#include "nophonerelay.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    mlog::Capture quiet; // the walk explains every failure on standard output
    const auto *bytes = reinterpret_cast<const char *>(data) + 1;
    const qsizetype rest = qsizetype(size - 1);
    const qsizetype split = rest == 0 ? 0 : qsizetype(data[0]) % (rest + 1);
    const QByteArray cached(bytes, split);
    const QByteArray fromPhone(bytes + split, rest - split);

    const std::optional<qsizetype> offset = DaemonStateCache::setlistStartOffset(cached);
    if (offset && (*offset <= 0 || *offset >= cached.size() ||
                   quint8(cached[*offset]) != livelink::kSetlistSeparator))
        __builtin_trap();

    NoPhoneRelay phone;
    DaemonStateCache cache(phone);
    cache.updateSongData(cached);
    cache.mergeSetlistFromiOS(fromPhone);
    const QByteArray stored = cache.currentState().songData.value_or(QByteArray());
    const QByteArray expected = offset ? cached.first(*offset) + fromPhone : cached;
    if (stored != expected || cache.setlistFromiOS() == bool(offset))
        __builtin_trap();
    return 0;
}
