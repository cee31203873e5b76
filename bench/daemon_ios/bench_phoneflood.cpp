// SPDX-License-Identifier: MIT
// Hostile phones: one floods 100 MB of garbage, one writes a setlist a byte a second.
// While each runs, the daemon's RSS is sampled, and a well-behaved phone connects
// meanwhile and times how long until it holds the cached state.
//
//   bench_phoneflood [megabytes, default 100] [slow seconds, default 5]
#include "benchsupport.h"
#include "livelinkcodec.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <thread>

using namespace benchsupport;

namespace {

struct Run
{
    long rssPeak = 0;
    double floodSeconds = 0;
    qint64 written = 0;
    double stateMs = -1; // the well-behaved phone: connect to cached state in hand
};

// Runs the hostile writer on a thread, connects the good phone once `goodAfter` of the
// hostile bytes are out, and samples RSS on the event loop until both are done.
Run runHostile(PhoneSide &side, const QByteArray &pool, qint64 total, int chunk, int pauseMs,
               qint64 goodAfter)
{
    const quint16 port = side.phone.listeningPort();
    Run run;
    std::atomic<bool> done{false};
    QEventLoop loop;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout,
                     [&] { run.rssPeak = std::max(run.rssPeak, rssKiB()); });
    sampler.start(5);
    std::thread hostile([&] {
        const int fd = connectLoopback(port);
        readFrame(fd); // its own cached state
        const QByteArray garbage(chunk, pauseMs ? char(0x04) : char(0xff));
        std::thread good;
        const quint64 start = nowNs();
        while (run.written < total) {
            if (!writeAll(fd, garbage.constData(), garbage.size()))
                break;
            run.written += garbage.size();
            if (pauseMs)
                QThread::msleep(pauseMs);
            if (run.written >= goodAfter && !good.joinable())
                good = std::thread([&] {
                    const quint64 t0 = nowNs();
                    const int phone = connectLoopback(port);
                    if (readFrame(phone) == pool)
                        run.stateMs = double(nowNs() - t0) / 1e6;
                    ::close(phone);
                });
        }
        run.floodSeconds = double(nowNs() - start) / 1e9;
        if (good.joinable())
            good.join();
        ::close(fd);
        done = true;
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    hostile.join();
    return run;
}

} // namespace

int main(int argc, char *argv[])
{
    FILE *results = resultsStream();
    QCoreApplication app(argc, argv);
    const qint64 megabytes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    const int slowSeconds = argc > 2 ? std::max(2, std::atoi(argv[2])) : 5;

    PhoneSide side;
    const QByteArray pool = fortySongPool();
    side.cache.currentState().songData = pool;
    const long rssStart = rssKiB();

    // Garbage at full speed: every chunk is dropped as it arrives. The good phone
    // replaces the flooder as soon as it connects, so the flood is timed alone first.
    const qint64 flood = megabytes * 1024 * 1024;
    const Run alone = runHostile(side, pool, flood, 64 * 1024, 0, flood + 1);
    const Run flooded = runHostile(side, pool, flood, 64 * 1024, 0, 8 * 1024 * 1024);
    // A setlist a byte a second: held as pending input until the good phone arrives.
    const Run slow = runHostile(side, pool, slowSeconds, 1, 1000, slowSeconds - 1);

    std::fprintf(results, "hostile phones, daemon RSS at start %ld KiB\n", rssStart);
    std::fprintf(results,
                 "  garbage flood alone: %lld MB in %.2f s (%.0f MB/s), RSS peak %ld KiB\n",
                 alone.written / (1024 * 1024), alone.floodSeconds,
                 double(alone.written) / (1024 * 1024) / alone.floodSeconds, alone.rssPeak);
    std::fprintf(
        results,
        "  good phone during a flood: cached state in %.2f ms (target <= 100), RSS peak %ld KiB\n",
        flooded.stateMs, flooded.rssPeak);
    std::fprintf(
        results,
        "  good phone during a byte-a-second setlist: cached state in %.2f ms, RSS peak %ld KiB\n",
        slow.stateMs, slow.rssPeak);
    // A phone that never answers reads as -1 ms: the target then fails in the table.
    const auto ms = [](double v) {
        return v >= 0 ? v : 1e9;
    };
    std::fprintf(results, "BENCH phone_flood_rate %.0f MB/s - -\n",
                 double(alone.written) / (1024 * 1024) / alone.floodSeconds);
    std::fprintf(results, "BENCH phone_flood_rss %.1f MB - <=16\n",
                 std::max(alone.rssPeak, flooded.rssPeak) / 1024.0);
    std::fprintf(results, "BENCH phone_flood_state %.2f ms - <=100\n", ms(flooded.stateMs));
    std::fprintf(results, "BENCH phone_trickle_state %.2f ms - -\n", ms(slow.stateMs));
    std::fprintf(results, "BENCH phone_trickle_rss %.1f MB - <=16\n", slow.rssPeak / 1024.0);
    std::fclose(results);
    return flooded.stateMs >= 0 && slow.stateMs >= 0 ? 0 : 1;
}
