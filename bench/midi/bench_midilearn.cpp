// SPDX-License-Identifier: MIT
// MIDI learn latency on the real path: Note Ons from the midipeer JACK client to the
// learnt mapping on the main thread, beside a bare RtMidi input callback on the same
// port in the same run; then the CPU cost of the back-end's port-list polling.
// Needs a JACK server (JACK_DEFAULT_SERVER picks a private one).
//
//   bench_midilearn [notes, default 1000] [idle seconds, default 10]
#include "lastportstore.h"
#include "log.h"
#include "midimanager.h"
#include "midipeerprocess.h"
#include "recordingsender.h"
#include "rtmidibackend.h"
#include "transportmappings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace {

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

qint64 cpuNs(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

struct Arrival
{
    int note = 0;
    int velocity = 0;
    qint64 ns = 0;
};

// Filled on RtMidi's thread, read once the run is over.
std::array<Arrival, 1 << 15> bareArrivals;
std::atomic<int> bareCount{0};

void bareCallback(double, std::vector<unsigned char> *message, void *)
{
    const qint64 t = nowNs();
    const int n = bareCount.load(std::memory_order_relaxed);
    if (message->size() < 3 || n >= int(bareArrivals.size()))
        return;
    bareArrivals[n] = {(*message)[1], (*message)[2], t};
    bareCount.store(n + 1, std::memory_order_release);
}

struct Figures
{
    double p50 = 0;
    double p99 = 0;
};

// Runs the event loop for ms without the polling sleeps of QTest::qWait, which would
// delay every queued delivery by up to 10 ms.
void runLoop(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

Figures percentiles(std::vector<double> us)
{
    std::sort(us.begin(), us.end());
    const auto at = [&](double q) {
        return us[std::min(us.size() - 1, size_t(q * us.size()))];
    };
    return {at(0.50), at(0.99)};
}

int latency(int notes)
{
    mlog::Capture quiet; // the learn log lines stay in memory, not on the terminal
    RtMidiBackend backend(RtMidi::UNIX_JACK, QStringLiteral("MarquellBench"));
    TransportMappings mappings;
    RecordingSender sender;
    LastPortStore lastPort(nullptr);
    MIDIManager manager(backend, mappings, sender, lastPort);
    manager.start();
    manager.setSelectedMappingTag(1);
    std::vector<std::pair<int, qint64>> learnt; // note, main-thread time
    learnt.reserve(size_t(notes) * 2);
    QObject::connect(&manager, &MIDIManager::mappingDataReceived, [&](const MappingData &m, int) {
        learnt.emplace_back(m.identifier, nowNs());
    });

    RtMidiIn bare(RtMidi::UNIX_JACK, "BareBench");
    // The peer starts sending once it is ready; notes before both inputs are open are lost,
    // so it sends a few more than are counted.
    MidiPeerProcess peer;
    const int sent = notes + notes / 10 + 20;
    if (!peer.start({QStringLiteral("send"), QStringLiteral("BenchPedal"),
                     QStringLiteral("--notes"), QString::number(sent),
                     QStringLiteral("--interval-us"), QStringLiteral("2000")})) {
        std::fprintf(stderr, "bench_midilearn: midipeer did not start\n");
        return 1;
    }
    for (unsigned i = 0; i < bare.getPortCount(); ++i) {
        if (bare.getPortName(i).find("BenchPedal") != std::string::npos) {
            bare.setCallback(&bareCallback);
            bare.openPort(i, "bare");
            break;
        }
    }
    backend.refresh();
    manager.refreshSources();
    const QStringList names = manager.sourceNames();
    const int index = int(std::find_if(names.cbegin(), names.cend(),
                                       [](const QString &n) { return n.contains("BenchPedal"); }) -
                          names.cbegin());
    if (!bare.isPortOpen() || !manager.selectSource(index)) {
        std::fprintf(stderr, "bench_midilearn: the peer's port was not found\n");
        return 1;
    }
    {
        QEventLoop sending; // until the peer reports every note sent (or 60 s)
        QObject::connect(&peer.process(), &QProcess::readyReadStandardOutput, &sending, [&] {
            if (peer.lines().size() >= sent)
                sending.quit();
        });
        QTimer::singleShot(60000, &sending, &QEventLoop::quit);
        sending.exec();
    }
    runLoop(300); // the last notes cross JACK's period and the event loop
    if (peer.lines().size() < sent)
        std::fprintf(stderr, "bench_midilearn: the peer sent only %d notes\n",
                     int(peer.lines().size()));
    peer.finish();

    std::vector<qint64> sendNs;
    for (const QString &line : peer.lines())
        sendNs.push_back(line.section(' ', -1).toLongLong());
    const int arrived = bareCount.load(std::memory_order_acquire);
    std::vector<qint64> bareAt(sendNs.size(), 0);
    std::vector<int> bareIndex(size_t(arrived), -1);
    for (int k = 0; k < arrived; ++k) {
        const Arrival &a = bareArrivals[size_t(k)];
        const size_t i = size_t((a.velocity - 1) * 128 + a.note); // how midipeer numbers notes
        if (i < sendNs.size()) {
            bareAt[i] = a.ns;
            bareIndex[size_t(k)] = int(i);
        }
    }
    // A learnt note is the one the bare input saw nearest in time with that number: the
    // same number comes back only every 128 notes (256 ms), and either input may be first.
    std::vector<qint64> learntAt(sendNs.size(), 0);
    for (const auto &[note, t] : learnt) {
        int best = -1;
        for (int k = 0; k < arrived; ++k) {
            const Arrival &a = bareArrivals[size_t(k)];
            if (a.note == note && bareIndex[size_t(k)] >= 0 &&
                (best < 0 || std::llabs(a.ns - t) < std::llabs(bareArrivals[size_t(best)].ns - t)))
                best = k;
        }
        if (best >= 0)
            learntAt[size_t(bareIndex[size_t(best)])] = t;
    }
    std::vector<double> bareUs, learnUs;
    for (size_t i = 0; i < sendNs.size() && int(learnUs.size()) < notes; ++i) {
        if (bareAt[i] && learntAt[i]) {
            bareUs.push_back((bareAt[i] - sendNs[i]) / 1000.0);
            learnUs.push_back((learntAt[i] - sendNs[i]) / 1000.0);
        }
    }
    if (learnUs.size() < size_t(notes) / 2) {
        std::fprintf(stderr, "bench_midilearn: only %zu notes arrived on both paths\n",
                     learnUs.size());
        return 1;
    }
    const Figures b = percentiles(bareUs);
    const Figures l = percentiles(learnUs);
    std::printf("Note On -> learnt mapping, %zu notes via JACK (%s):\n", learnUs.size(),
                qPrintable(backend.apiName()));
    std::printf("  bare RtMidi callback   p50 %8.1f us   p99 %8.1f us\n", b.p50, b.p99);
    std::printf("  MIDIManager, main thr. p50 %8.1f us   p99 %8.1f us\n", l.p50, l.p99);
    std::printf("  ratio                  p50 %8.3f      p99 %8.3f\n", l.p50 / b.p50,
                l.p99 / b.p99);
    std::printf("BENCH learn_p50 %.1f us %.1f -\n", l.p50, b.p50);
    std::printf("BENCH learn_p99 %.1f us %.1f r<=1.2\n", l.p99, b.p99);
    return 0;
}

void pollingCost(int seconds)
{
    MidiPeerProcess peer; // one source to list, as with a controller plugged in
    if (!peer.start({QStringLiteral("send"), QStringLiteral("IdlePedal")}))
        std::fprintf(stderr, "bench_midilearn: midipeer did not start\n");
    RtMidiBackend backend(RtMidi::UNIX_JACK, QStringLiteral("MarquellPollBench"));
    constexpr int polls = 200;
    const qint64 pollStart = cpuNs(CLOCK_THREAD_CPUTIME_ID);
    qint64 slowestNs = 0; // a poll blocks the main thread: its wall time delays learning
    for (int i = 0; i < polls; ++i) {
        const qint64 t0 = nowNs();
        backend.refresh();
        slowestNs = std::max(slowestNs, nowNs() - t0);
    }
    const double perPollUs = (cpuNs(CLOCK_THREAD_CPUTIME_ID) - pollStart) / 1000.0 / polls;

    // Idle with the timer doing its once-a-second poll: the main thread is the poller.
    const qint64 thread0 = cpuNs(CLOCK_THREAD_CPUTIME_ID);
    const qint64 process0 = cpuNs(CLOCK_PROCESS_CPUTIME_ID);
    QElapsedTimer wall;
    wall.start();
    runLoop(seconds * 1000);
    const double wallNs = double(wall.nsecsElapsed());
    std::printf("Port-list polling (%d sources listed):\n", int(backend.sources().size()));
    std::printf(
        "  one poll: %.1f us CPU = %.4f %% of a core at 1 Hz; slowest of %d: %.1f us wall\n",
        perPollUs, perPollUs / 1e6 * 100, polls, slowestNs / 1000.0);
    const double mainPercent = (cpuNs(CLOCK_THREAD_CPUTIME_ID) - thread0) / wallNs * 100;
    const double processPercent = (cpuNs(CLOCK_PROCESS_CPUTIME_ID) - process0) / wallNs * 100;
    std::printf("  %d s idle: main thread %.4f %%, whole process %.4f %% of a core\n", seconds,
                mainPercent, processPercent);
    std::printf("BENCH learn_poll_cpu %.1f us - -\n", perPollUs);
    std::printf("BENCH learn_poll_slowest %.1f us - -\n", slowestNs / 1000.0);
    std::printf("BENCH learn_idle_cpu %.4f %% - -\n", processPercent);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int notes = argc > 1 ? std::max(10, atoi(argv[1])) : 1000;
    const int seconds = argc > 2 ? std::max(1, atoi(argv[2])) : 10;
    if (!MidiPeerProcess::jackRunning()) {
        std::fprintf(stderr, "bench_midilearn: no JACK server answers; start one, e.g.\n"
                             "  jackd -n bench --no-realtime -d dummy -r 48000 -p 128 &\n"
                             "  JACK_DEFAULT_SERVER=bench build/bench/midi/bench_midilearn\n");
        return 2;
    }
    if (const int status = latency(notes); status != 0)
        return status;
    pollingCost(seconds);
    return 0;
}
