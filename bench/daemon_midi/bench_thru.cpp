// SPDX-License-Identifier: MIT
// MIDI thru over JACK: latency from a source's message to the same bytes at a client
// of "Marquell", beside a bare RtMidi in->out forwarder fed by the same messages in
// the same run; then throughput with two sources at 1,000 messages/s each.
// Uses the JACK server in JACK_DEFAULT_SERVER, or starts a private one.
//   bench_thru [messages=1000]
#include "midiemitter.h"
#include "midithru.h"
#include "rtmidibackend.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

long long nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// A 14-bit sequence number in the two data bytes of a Note On on a channel.
std::vector<unsigned char> numbered(int channel, int seq)
{
    return {static_cast<unsigned char>(0x90 | channel), static_cast<unsigned char>(seq & 127),
            static_cast<unsigned char>((seq >> 7) & 127)};
}
int sequenceOf(const std::vector<unsigned char> &msg)
{
    return msg.size() == 3 ? msg[1] | (msg[2] << 7) : -1;
}

bool waitFor(const std::function<bool()> &done, int ms = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return done();
}

// Opens in at the first port whose name contains part; false when none appears.
bool openPortNamed(RtMidiIn &in, const std::string &part)
{
    return waitFor([&] {
        for (unsigned i = 0; i < in.getPortCount(); ++i)
            if (in.getPortName(i).find(part) != std::string::npos) {
                in.openPort(i, "in");
                return true;
            }
        return false;
    });
}

// Arrival times by sequence number, written on JACK's threads.
struct Arrivals
{
    explicit Arrivals(int n) : at(size_t(n)) {}
    std::vector<std::atomic<long long>> at;
    std::atomic<int> count = 0;

    static void record(double, std::vector<unsigned char> *msg, void *self)
    {
        auto *a = static_cast<Arrivals *>(self);
        const int seq = sequenceOf(*msg);
        if (seq >= 0 && size_t(seq) < a->at.size())
            a->at[size_t(seq)] = nowNs();
        ++a->count;
    }
};

struct Percentiles
{
    double p50 = 0, p99 = 0, max = 0;
    int lost = 0;
};

Percentiles latencies(const std::vector<long long> &sent, const Arrivals &arrivals)
{
    std::vector<double> ms;
    Percentiles p;
    for (size_t i = 0; i < sent.size(); ++i) {
        if (const long long t = arrivals.at[i]; t > 0)
            ms.push_back(double(t - sent[i]) / 1e6);
        else
            ++p.lost;
    }
    if (ms.empty())
        return p;
    std::sort(ms.begin(), ms.end());
    p.p50 = ms[ms.size() / 2];
    p.p99 = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
    p.max = ms.back();
    return p;
}

struct BareForwarder
{
    RtMidiOut out{RtMidi::UNIX_JACK, "BareFwdOut"};
    RtMidiIn in{RtMidi::UNIX_JACK, "BareFwdIn"};
    static void forward(double, std::vector<unsigned char> *msg, void *self)
    {
        static_cast<BareForwarder *>(self)->out.sendMessage(msg);
    }
};

int runLatency(RtMidiOut &source, const QString &client, int n)
{
    BareForwarder bare;
    bare.out.openVirtualPort("out");
    bare.in.ignoreTypes(false, false, false);
    bare.in.setCallback(&BareForwarder::forward, &bare);

    Arrivals viaThru(n);
    Arrivals viaBare(n);
    RtMidiIn thruListener(RtMidi::UNIX_JACK, "BenchListenThru");
    RtMidiIn bareListener(RtMidi::UNIX_JACK, "BenchListenBare");
    thruListener.setCallback(&Arrivals::record, &viaThru);
    bareListener.setCallback(&Arrivals::record, &viaBare);
    if (!openPortNamed(bare.in, "BenchA:out") ||
        !openPortNamed(thruListener, (client + QStringLiteral(":Marquell")).toStdString()) ||
        !openPortNamed(bareListener, "BareFwdOut:out")) {
        std::fprintf(stderr, "bench_thru: ports did not appear\n");
        return 1;
    }

    std::vector<long long> sent(size_t(n), 0);
    // 5 ms apart, off the 2.67 ms JACK period, so arrivals sample the whole cycle.
    auto next = Clock::now();
    for (int i = 0; i < n; ++i) {
        const std::vector<unsigned char> msg = numbered(0, i);
        sent[size_t(i)] = nowNs();
        source.sendMessage(&msg);
        next += std::chrono::microseconds(5000);
        std::this_thread::sleep_until(next);
    }
    waitFor([&] { return viaThru.count >= n && viaBare.count >= n; }, 2000);

    const Percentiles t = latencies(sent, viaThru);
    const Percentiles b = latencies(sent, viaBare);
    std::printf("thru latency over JACK, %d messages (ms): p50 %.3f  p99 %.3f  max %.3f  lost %d\n",
                n, t.p50, t.p99, t.max, t.lost);
    std::printf("bare RtMidi forwarder            (ms): p50 %.3f  p99 %.3f  max %.3f  lost %d\n",
                b.p50, b.p99, b.max, b.lost);
    std::printf("ratio thru/bare: p50 %.3f  p99 %.3f (target <= 1.2 on p99)\n",
                b.p50 > 0 ? t.p50 / b.p50 : 0.0, b.p99 > 0 ? t.p99 / b.p99 : 0.0);
    std::printf("BENCH thru_p50 %.3f ms %.3f -\n", t.p50, b.p50);
    std::printf("BENCH thru_p99 %.3f ms %.3f r<=1.2\n", t.p99, b.p99);
    std::printf("BENCH thru_lost %d msgs %d =0\n", t.lost, b.lost);
    return 0;
}

// Per channel: how many arrived and whether each arrived in order.
struct Tally
{
    std::atomic<int> received[2] = {0, 0};
    std::atomic<int> outOfOrder[2] = {0, 0};
    int last[2] = {-1, -1}; // each channel's messages come from one JACK client thread

    static void record(double, std::vector<unsigned char> *msg, void *self)
    {
        auto *t = static_cast<Tally *>(self);
        if (msg->empty() || ((*msg)[0] & 0x0f) > 1)
            return;
        const int ch = (*msg)[0] & 0x0f;
        const int seq = sequenceOf(*msg);
        if (seq != t->last[ch] + 1)
            ++t->outOfOrder[ch];
        t->last[ch] = seq;
        ++t->received[ch];
    }
};

int runThroughput(RtMidiOut &a, RtMidiOut &b, const QString &client, int seconds)
{
    Tally tally;
    RtMidiIn listener(RtMidi::UNIX_JACK, "BenchListenRate");
    listener.setCallback(&Tally::record, &tally);
    if (!openPortNamed(listener, (client + QStringLiteral(":Marquell")).toStdString()))
        return 1;
    const int perSource = 1000 * seconds;
    const auto play = [perSource](RtMidiOut &out, int channel) {
        auto next = Clock::now();
        for (int i = 0; i < perSource; ++i) {
            const std::vector<unsigned char> msg = numbered(channel, i);
            out.sendMessage(&msg);
            next += std::chrono::microseconds(1000);
            std::this_thread::sleep_until(next);
        }
    };
    QElapsedTimer timer;
    timer.start();
    std::thread ta(play, std::ref(a), 0);
    std::thread tb(play, std::ref(b), 1);
    ta.join();
    tb.join();
    waitFor([&] { return tally.received[0] + tally.received[1] >= 2 * perSource; }, 2000);
    const double secs = double(timer.elapsed()) / 1000.0;
    const int got = tally.received[0] + tally.received[1];
    std::printf("throughput: 2 sources x 1000 msg/s for %d s: received %d of %d (lost %d, "
                "out of order %d) in %.2f s = %.0f msg/s\n",
                seconds, got, 2 * perSource, 2 * perSource - got,
                tally.outOfOrder[0] + tally.outOfOrder[1], secs, got / secs);
    std::printf("BENCH thru_2x1000_rate %.0f msg/s - -\n", got / secs);
    std::printf("BENCH thru_2x1000_lost %d msgs - =0\n", 2 * perSource - got);
    std::printf("BENCH thru_2x1000_reordered %d msgs - =0\n",
                tally.outOfOrder[0] + tally.outOfOrder[1]);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int n = argc > 1 ? std::max(10, std::atoi(argv[1])) : 1000;

    QProcess jackd;
    if (RtMidiBackend(RtMidi::UNIX_JACK, QStringLiteral("BenchProbe")).clientStatus() != 0) {
        const QByteArray name = "marquell-bench-" + QByteArray::number(app.applicationPid());
        qputenv("JACK_DEFAULT_SERVER", name);
        qputenv("JACK_NO_AUDIO_RESERVATION", "1");
        jackd.setStandardOutputFile(QProcess::nullDevice());
        jackd.setStandardErrorFile(QProcess::nullDevice());
        jackd.start(QStringLiteral("jackd"), {"-n", QString::fromLatin1(name), "--no-realtime",
                                              "-d", "dummy", "-r", "48000", "-p", "128"});
        if (!waitFor([] {
                return RtMidiBackend(RtMidi::UNIX_JACK, QStringLiteral("BenchProbe"))
                           .clientStatus() == 0;
            })) {
            std::fprintf(stderr, "bench_thru: no JACK server could be started\n");
            return 1;
        }
    }

    const QString client = QStringLiteral("BenchThru");
    int rc = 0;
    {
        RtMidiOut sourceA(RtMidi::UNIX_JACK, "BenchA");
        RtMidiOut sourceB(RtMidi::UNIX_JACK, "BenchB");
        sourceA.openVirtualPort("out");
        sourceB.openVirtualPort("out");

        QTemporaryDir dir;
        QSettings settings(dir.filePath(QStringLiteral("bench.ini")), QSettings::IniFormat);
        RtMidiBackend backend(RtMidi::UNIX_JACK, client);
        MIDIEmitter emitter(backend);
        MIDIThru thru(backend, emitter, settings);
        emitter.start();
        thru.start();
        const auto idOf = [&](const QString &name) -> qint32 {
            for (const ThruControl::Source &s : thru.availableSources())
                if (s.name == name)
                    return s.id;
            return 0;
        };
        thru.toggle(idOf(QStringLiteral("BenchA:out")));
        if (backend.connectedSources().size() != 1) {
            std::fprintf(stderr, "bench_thru: source A not connected\n");
            return 1;
        }
        rc = runLatency(sourceA, client, n);
        thru.toggle(idOf(QStringLiteral("BenchB:out")));
        rc |= runThroughput(sourceA, sourceB, client, 3);
    }
    if (jackd.state() != QProcess::NotRunning) {
        jackd.terminate();
        jackd.waitForFinished(5000);
    }
    return rc;
}
