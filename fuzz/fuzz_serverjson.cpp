// SPDX-License-Identifier: MIT
// Arbitrary server.json contents through both programs' readings of the port: no
// crash, and any port given back lies within the reading's range.
#include "serverportfile.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<int> app = serverportfile::portFromJson(bytes, 1);
    const std::optional<int> daemon = serverportfile::portFromJson(bytes, 0);
    if (app && (*app < 1 || *app > 65535))
        __builtin_trap();
    // The application's reading is the daemon's with 0 refused: they never disagree.
    if (daemon && (*daemon < 0 || *daemon > 65535 || (*daemon != 0 && app != daemon)))
        __builtin_trap();
    return 0;
}
