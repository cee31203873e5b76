// SPDX-License-Identifier: MIT
// Arbitrary phone input through the parser, whole and in chunks the input chooses,
// with quiet times between some of them: no crash, no sanitizer report, and never
// more pending than the cap.
#include "phoneinputparser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const auto *bytes = reinterpret_cast<const char *>(data);
    (void)PhoneInputParser::parseAll(QByteArrayView(bytes + 1, qsizetype(size - 1)));

    const size_t chunk = 1 + data[0] % 32;
    PhoneInputParser parser;
    for (size_t i = 1; i < size; i += chunk) {
        (void)parser.feed(QByteArrayView(bytes + i, qsizetype(std::min(chunk, size - i))));
        if (data[i] & 1)
            (void)parser.quietTimeElapsed();
        if (parser.pending() > PhoneInputParser::kMaxPending)
            std::abort();
    }
    return 0;
}
