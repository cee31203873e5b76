// SPDX-License-Identifier: MIT
// Writes <threads> x <lines> numbered lines through the stdout sink at once, so a
// test can look for lines mixed together.
#include "log.h"

#include <QString>

#include <cstdlib>
#include <thread>
#include <vector>

int main(int argc, char *argv[])
{
    const int threads = argc > 1 ? std::atoi(argv[1]) : 4;
    const int lines = argc > 2 ? std::atoi(argv[2]) : 2000;
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; ++t)
        writers.emplace_back([t, lines] {
            for (int i = 0; i < lines; ++i)
                mlog::out(QStringLiteral("writer %1 line %2 end").arg(t).arg(i));
        });
    for (std::thread &writer : writers)
        writer.join();
    return 0;
}
