// SPDX-License-Identifier: MIT
// Arbitrary bytes through the frame reader (in chunks the input itself chooses) and
// every frame through the decoders: no crash, no sanitizer report, no read past the end.
#include "framereader.h"
#include "livelinkcodec.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const auto *bytes = reinterpret_cast<const char *>(data);
    const size_t chunk = 1 + data[0] % 64;

    FrameReader reader;
    for (size_t i = 1; i < size; i += chunk) {
        reader.feed(QByteArrayView(bytes + i, qsizetype(std::min(chunk, size - i))));
        for (auto r = reader.next(); r.status == FrameReader::Status::Frame; r = reader.next()) {
            (void)livelink::decodeServerMessage(r.payload);
            (void)livelink::isWellFormedMidiMap(r.payload);
            (void)livelink::isServerIdentity(r.payload);
        }
    }

    // The raw input as one payload too, and as a run of song records.
    const QByteArrayView whole(bytes, qsizetype(size));
    (void)livelink::decodeServerMessage(whole);
    qsizetype offset = 0;
    while (livelink::readSongRecord(whole, offset)) {
    }
    return 0;
}
