// SPDX-License-Identifier: MIT
// Live dropping and returning, over and over, for both programs: each cycle Live
// closes, a port that refuses is published, and Live returns on another port and
// must be validated again. Prints file descriptors and RSS before and after, and
// cycles that got stuck (a step not done within 5 s).
//
//   bench_soak [--cycles N, default 1000] [--check]
// --check: exit status 1 when a cycle got stuck or descriptors were left open.
#include "liveprograms.h"
#include "log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <unistd.h>

using namespace liveprograms;

namespace {

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd"))
                   .entryList(QDir::NoDotAndDotDot | QDir::System)
                   .size());
}

double rssMiB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0.0;
    const qint64 pages = statm.readAll().split(' ').value(1).toLongLong();
    return double(pages * sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

void settle()
{
    // Deferred deletes, and refused attempts the daemon drops 0.5 s after they fail.
    waitUntil([] { return false; }, 1000);
}

// Proof that a publish of a refusing port reached the program and was tried.
int refusals(const AppSide &, const mlog::Capture &log)
{
    int count = 0;
    for (const QString &line : log.messages())
        count += line.startsWith(QLatin1String("Server not detected on"));
    return count;
}

int refusals(const DaemonSide &side, const mlog::Capture &)
{
    return side.refusals;
}

struct Result
{
    int stuck = 0;
    std::vector<double> cycleMs;
    int fdBefore = 0, fdAfter = 0;
    double rssBefore = 0.0, rssAfter = 0.0;
};

template <typename Side> Result soak(int cycles)
{
    Result result;
    const int warmUp = std::min(10, cycles / 2);
    mlog::Capture log; // cleared every cycle, so it holds one cycle's lines at most
    auto live = std::make_unique<Live>();
    Home::publish(live->server.port());
    Side side;
    for (int i = 0; i < cycles; ++i) {
        if (i == warmUp) {
            settle();
            result.fdBefore = openDescriptors();
            result.rssBefore = rssMiB();
        }
        log.clear();
        QElapsedTimer clock;
        clock.start();
        bool ok = waitUntil([&] { return live->answered(); });
        // Live goes away; a port that refuses is published; Live returns elsewhere.
        live.reset();
        ok = ok && waitUntil([&] { return side.searching(); });
        const int refused = refusals(side, log);
        Home::publish(ScriptedLiveServer::closedPort());
        ok = ok && waitUntil([&] { return refusals(side, log) > refused; });
        live = std::make_unique<Live>();
        Home::publish(live->server.port());
        ok = ok && waitUntil([&] { return live->answered(); });
        result.stuck += !ok;
        if (i >= warmUp) // the first connection waits for the first poll
            result.cycleMs.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    live.reset();
    settle();
    result.fdAfter = openDescriptors();
    result.rssAfter = rssMiB();
    return result;
}

bool report(const char *who, const char *key, const Result &r)
{
    std::printf("%s: %zu cycles, %d stuck; cycle p50 %.1f ms p99 %.1f ms; descriptors %d -> %d; "
                "RSS %.2f -> %.2f MiB\n",
                who, r.cycleMs.size(), r.stuck, percentile(r.cycleMs, 50),
                percentile(r.cycleMs, 99), r.fdBefore, r.fdAfter, r.rssBefore, r.rssAfter);
    const QByteArray k(key);
    bench(k + "_soak_stuck_cycles", r.stuck, "cycles", "-", "<=0");
    bench(k + "_soak_fd_growth", r.fdAfter - r.fdBefore, "fds", "-", "<=0");
    bench(k + "_soak_rss_growth", r.rssAfter - r.rssBefore, "MiB", "-", "<=1");
    bench(k + "_soak_cycle_p99", percentile(r.cycleMs, 99), "ms", "-", "-");
    return r.stuck == 0 && r.fdAfter <= r.fdBefore;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int at = int(args.indexOf(QStringLiteral("--cycles")));
    const int cycles = at > 0 ? std::max(2, args.value(at + 1).toInt()) : 1000;
    Home home;
    const bool appOk = report("application", "app", soak<AppSide>(cycles));
    const bool daemonOk = report("daemon", "daemon", soak<DaemonSide>(cycles));
    return args.contains(QStringLiteral("--check")) && !(appOk && daemonOk) ? 1 : 0;
}
