// SPDX-License-Identifier: MIT
// How soon each program answers Live's identity after Live publishes its port in
// server.json, and the application's CPU while Live is absent.
//
//   bench_connectlatency [runs, default 100] [idle seconds, default 10]
#include "liveprograms.h"
#include "log.h"

#include <QCoreApplication>

#include <sys/resource.h>

using namespace liveprograms;

namespace {

// Milliseconds from server.json written to the client's identity received, per run.
template <typename Side> std::vector<double> connectLatencies(int runs, int &stuck)
{
    mlog::Capture quiet;
    Side side;
    std::vector<double> out;
    for (int i = 0; i < runs; ++i) {
        quiet.clear();
        if (!waitUntil([&] { return side.searching(); })) {
            ++stuck;
            continue;
        }
        Live live;
        QElapsedTimer clock;
        Home::publish(live.server.port());
        clock.start();
        if (!waitUntil([&] { return live.answered(); })) {
            ++stuck;
            continue;
        }
        out.push_back(double(clock.nsecsElapsed()) / 1e6);
        live.server.closeClients();
        live.server.stopListening();
    }
    return out;
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void report(const char *who, const char *key, const std::vector<double> &ms, int stuck,
            const char *baseline)
{
    std::printf("%s: %zu connections, %d stuck: p50 %.1f ms  p99 %.1f ms  max %.1f ms\n", who,
                ms.size(), stuck, percentile(ms, 50), percentile(ms, 99), percentile(ms, 100));
    bench(QByteArray(key) + "_connect_p50", percentile(ms, 50), "ms", baseline, "-");
    bench(QByteArray(key) + "_connect_p99", percentile(ms, 99), "ms", baseline, "<=100");
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    const int idleSeconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
    Home home;
    Home::publish(ScriptedLiveServer::closedPort());

    // Baselines: the same figures before server.json was watched (polling only).
    int stuck = 0;
    report("application", "app", connectLatencies<AppSide>(runs, stuck), stuck, "1500");
    stuck = 0;
    report("daemon", "daemon", connectLatencies<DaemonSide>(runs, stuck), stuck, "500");

    // Nothing listens; the detector polls every 2 s and watches the file.
    Home::publish(ScriptedLiveServer::closedPort());
    mlog::Capture quiet; // grows by three lines per 2 s poll: nothing that shows in CPU
    AppSide side;
    const double before = cpuSeconds();
    QEventLoop idle; // no polling of our own: only what the detector does counts
    QTimer::singleShot(idleSeconds * 1000, &idle, &QEventLoop::quit);
    idle.exec();
    const double percent = (cpuSeconds() - before) / idleSeconds * 100.0;
    std::printf("application idle while Live is absent: %.3f %% of a core over %d s\n", percent,
                idleSeconds);
    bench("app_idle_cpu", percent, "%", "0.0", "<=0.1");
    return 0;
}
