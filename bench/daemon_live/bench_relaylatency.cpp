// SPDX-License-Identifier: MIT
// Relay latency: from a frame written by a loopback Live server to the bytes the
// daemon hands to the phone side, beside a minimal read-then-write relay measured
// in the same run (alternating blocks). Prints p50/p99 and their ratios.
//
//   bench_relaylatency [frames per relay, default 10000]
#include "abletonsocket.h"
#include "daemonstatecache.h"
#include "livelinkcodec.h"
#include "phonerelay.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QHostAddress>
#include <QSemaphore>
#include <QTcpSocket>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

quint64 nowNs()
{
    return quint64(std::chrono::duration_cast<std::chrono::nanoseconds>(
                       std::chrono::steady_clock::now().time_since_epoch())
                       .count());
}

QByteArray u64(quint64 v)
{
    char b[8];
    qToBigEndian(v, b);
    return QByteArray(b, 8);
}

// What Live sends during a show, in proportion: tempo and position most often,
// the song pool now and then.
std::vector<QByteArray> realisticMix()
{
    QByteArray pool(1, 3);
    for (int i = 0; i < 40; ++i) {
        const QByteArray name = "Song number " + QByteArray::number(i);
        pool += u64(1000 + i) + char(name.size()) + name + char(4) + "3:45";
    }
    pool += char(4);
    for (int i = 0; i < 12; ++i) {
        const QByteArray name = "Song number " + QByteArray::number(i * 3);
        pool += u64(1000 + i * 3) + char(name.size()) + name + char(4) + "3:45";
    }
    const QByteArray midiMap =
        QByteArray(1, 0) + char(4) + "play" + QByteArray("\x00\x00\x00\x24", 4) + char(4) + "stop" +
        QByteArray("\x00\x00\x00\x25", 4) + char(4) + "next" + QByteArray("\x01\x00\x00\x40", 4);
    std::vector<QByteArray> mix;
    for (int i = 0; i < 100; ++i) {
        if (i % 50 == 7)
            mix.push_back(pool);
        else if (i % 50 == 31)
            mix.push_back(midiMap);
        else if (i % 10 == 3)
            mix.push_back(QByteArray("\x05", 1) + char(i % 12));
        else if (i % 10 == 5)
            mix.push_back(QByteArray("\x01\x01", 2));
        else if (i % 25 == 9)
            mix.push_back(QByteArray("\x07\x02", 2));
        else if (i % 25 == 19)
            mix.push_back(QByteArray("\x02", 1));
        else
            mix.push_back(QByteArray("\x08\x00\x00", 3) + char((12000 + i) >> 8) +
                          char((12000 + i) & 0xff));
    }
    return mix;
}

// The phone side's share is the same for both relays: frame the payload and hand it on.
struct Handoff
{
    QSemaphore arrived;
    std::atomic<quint64> outNs{0};
    qsizetype bytesOut = 0;

    void deliver(const QByteArray &payload)
    {
        const QByteArray framed = livelink::frame(payload);
        bytesOut += framed.size();
        outNs.store(nowNs(), std::memory_order_relaxed);
        arrived.release();
    }
};

class TimingPhone final : public PhoneRelay
{
public:
    explicit TimingPhone(Handoff &handoff) : m_handoff(handoff) {}
    void sendToiOS(const QByteArray &bytes) override { m_handoff.deliver(bytes); }
    void sendCached(const std::optional<QByteArray> &bytes, const QString &) override
    {
        if (bytes)
            sendToiOS(*bytes);
    }

private:
    Handoff &m_handoff;
};

// The least a relay can do: read a frame, pass its payload on.
class MinimalRelay final : public QObject
{
public:
    MinimalRelay(quint16 port, Handoff &handoff) : m_handoff(handoff)
    {
        connect(&m_socket, &QTcpSocket::readyRead, this, [this] {
            for (;;) {
                if (m_length == 0) {
                    if (m_socket.bytesAvailable() < 4)
                        return;
                    char b[4];
                    m_socket.read(b, 4);
                    m_length = qFromBigEndian<quint32>(b);
                }
                if (m_socket.bytesAvailable() < m_length)
                    return;
                const QByteArray payload = m_socket.read(m_length);
                m_length = 0;
                m_handoff.deliver(payload);
            }
        });
        m_socket.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
    }

private:
    Handoff &m_handoff;
    QTcpSocket m_socket;
    quint32 m_length = 0;
};

int listenLoopback(quint16 &port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&addr), len) != 0 ||
        ::listen(fd, 4) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
        return -1;
    port = ntohs(addr.sin_port);
    return fd;
}

bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// One block: a server thread writes frames one at a time and waits until each has
// left through the phone side; the relay runs on the main thread's event loop.
std::vector<quint64> runBlock(bool daemon, const std::vector<QByteArray> &mix, int frames,
                              int warmup)
{
    quint16 port = 0;
    const int listener = listenLoopback(port);
    Handoff handoff;
    std::vector<quint64> latencies;
    latencies.reserve(size_t(frames));
    QEventLoop loop;

    std::thread server([&] {
        const int fd = ::accept(listener, nullptr, nullptr);
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (daemon) {
            writeAll(fd, livelink::frame("MARQUELL_SERVER"));
            char reply[15];
            qsizetype got = 0;
            while (got < 15) {
                const ssize_t n = ::read(fd, reply + got, size_t(15 - got));
                if (n <= 0)
                    break;
                got += n;
            }
        }
        for (int i = 0; i < warmup + frames; ++i) {
            const QByteArray framed = livelink::frame(mix[size_t(i) % mix.size()]);
            const quint64 start = nowNs();
            if (!writeAll(fd, framed) || !handoff.arrived.tryAcquire(1, 5000)) {
                std::fprintf(stderr, "frame %d did not arrive\n", i);
                break;
            }
            if (i >= warmup)
                latencies.push_back(handoff.outNs.load(std::memory_order_relaxed) - start);
        }
        ::close(fd);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });

    TimingPhone phone(handoff);
    DaemonStateCache cache(phone);
    std::unique_ptr<AbletonSocket> live;
    std::unique_ptr<MinimalRelay> minimal;
    if (daemon) {
        live = std::make_unique<AbletonSocket>(cache, phone);
        live->connectToLive(port);
    } else {
        minimal = std::make_unique<MinimalRelay>(port, handoff);
    }
    loop.exec();
    server.join();
    ::close(listener);
    return latencies;
}

struct Figures
{
    double p50 = 0, p99 = 0, mean = 0;
    size_t count = 0;
};

Figures figures(std::vector<quint64> v)
{
    Figures f;
    f.count = v.size();
    if (v.empty())
        return f;
    std::sort(v.begin(), v.end());
    f.p50 = double(v[v.size() / 2]) / 1000.0;
    f.p99 = double(v[std::min(v.size() - 1, v.size() * 99 / 100)]) / 1000.0;
    double sum = 0;
    for (quint64 x : v)
        sum += double(x);
    f.mean = sum / double(v.size()) / 1000.0;
    return f;
}

} // namespace

int main(int argc, char *argv[])
{
    // The daemon prints its lines as it would in use; keep them out of the figures.
    const int resultsFd = ::dup(STDOUT_FILENO);
    if (!std::freopen("/dev/null", "w", stdout))
        return 1;
    FILE *results = ::fdopen(resultsFd, "w");

    QCoreApplication app(argc, argv);
    const int total = argc > 1 ? std::max(100, std::atoi(argv[1])) : 10000;
    const int blocks = 5;
    const std::vector<QByteArray> mix = realisticMix();
    qsizetype mixBytes = 0;
    for (const QByteArray &m : mix)
        mixBytes += m.size();

    std::vector<quint64> daemon, minimal;
    for (int b = 0; b < blocks; ++b) {
        const std::vector<quint64> m = runBlock(false, mix, total / blocks, 200);
        minimal.insert(minimal.end(), m.begin(), m.end());
        const std::vector<quint64> d = runBlock(true, mix, total / blocks, 200);
        daemon.insert(daemon.end(), d.begin(), d.end());
    }
    const Figures d = figures(daemon);
    const Figures m = figures(minimal);
    std::fprintf(results,
                 "relay latency, loopback Live server -> phone side, %zu frames each, mix of %zu "
                 "payloads (mean %.0f bytes)\n",
                 d.count, mix.size(), double(mixBytes) / double(mix.size()));
    std::fprintf(results, "  daemon  : p50 %8.1f us  p99 %8.1f us  mean %8.1f us\n", d.p50, d.p99,
                 d.mean);
    std::fprintf(results, "  minimal : p50 %8.1f us  p99 %8.1f us  mean %8.1f us\n", m.p50, m.p99,
                 m.mean);
    std::fprintf(results, "  ratio   : p50 %.2f  p99 %.2f  (target <= 1.5)\n",
                 m.p50 > 0 ? d.p50 / m.p50 : 0.0, m.p99 > 0 ? d.p99 / m.p99 : 0.0);
    std::fprintf(results, "BENCH daemon_relay_p50 %.1f us %.1f r<=1.5\n", d.p50, m.p50);
    std::fprintf(results, "BENCH daemon_relay_p99 %.1f us %.1f r<=1.5\n", d.p99, m.p99);
    std::fclose(results);
    return d.count == size_t(total / blocks * blocks) && m.count == d.count ? 0 : 1;
}
