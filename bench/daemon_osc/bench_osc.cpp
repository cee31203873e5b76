// SPDX-License-Identifier: MIT
// The daemon as an OSC peer, on loopback with raw sockets for the far ends (threads):
//  1. an OSC command to the Live link bytes at a Live server, beside a bare liblo
//     server on the same event loop that forwards the same bytes (alternating blocks);
//  2. feedback fan-out: a change from Live until 20 subscribers all hold it;
//  3. a 10,000 packets/s flood: the main thread's CPU, and the phone relay's p99
//     with and without it.
//
//   bench_osc [commands per block, default 2000]
#include "benchsupport.h"
#include "livelinkcodec.h"
#include "oscremote.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QThread>

#include <lo/lo.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <thread>
#include <vector>

using namespace benchsupport;

namespace {

double percentile(std::vector<quint64> v, int p)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return double(v[std::min(v.size() - 1, v.size() * size_t(p) / 100)]) / 1000.0;
}

double threadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

int udpSocket(quint16 *port = nullptr)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr *>(&addr), len);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
    if (port)
        *port = ntohs(addr.sin_port);
    const timeval timeout{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    return fd;
}

void sendTo(int fd, quint16 port, const QByteArray &packet)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    ::sendto(fd, packet.constData(), size_t(packet.size()), 0, reinterpret_cast<sockaddr *>(&to),
             sizeof to);
}

QByteArray oscPacket(const char *path, int value = -1)
{
    lo_message message = lo_message_new();
    if (value >= 0)
        lo_message_add_int32(message, value);
    size_t size = 0;
    void *data = lo_message_serialise(message, path, nullptr, &size);
    const QByteArray out(static_cast<const char *>(data), qsizetype(size));
    free(data);
    lo_message_free(message);
    return out;
}

OscRemote::Options unthrottled()
{
    OscRemote::Options o;
    o.commandsPerSecond = 1e9; // the figure is the path's latency, not the budget
    o.commandBurst = 1e9;
    o.feedback.lifetime = std::chrono::minutes(5);
    return o;
}

// The least an OSC bridge can do: liblo on the event loop, /marquell/next -> 01 04.
class BareLibloForwarder final
{
public:
    explicit BareLibloForwarder(quint16 livePort)
    {
        m_server = lo_server_new_with_proto(nullptr, LO_UDP, nullptr);
        lo_server_add_method(
            m_server, "/marquell/next", nullptr,
            [](const char *, const char *, lo_arg **, int, lo_message, void *self) {
                auto *live = static_cast<QTcpSocket *>(self);
                live->write(QByteArray("\x01\x04", 2));
                live->flush();
                return 0;
            },
            &m_live);
        m_notifier = std::make_unique<QSocketNotifier>(lo_server_get_socket_fd(m_server),
                                                       QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated,
                         [this] { lo_server_recv_noblock(m_server, 0); });
        m_live.connectToHost(QHostAddress(QHostAddress::LocalHost), livePort);
        m_live.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    }
    ~BareLibloForwarder()
    {
        m_notifier.reset();
        lo_server_free(m_server);
    }
    quint16 port() const { return quint16(lo_server_get_port(m_server)); }

private:
    lo_server m_server;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QTcpSocket m_live;
};

// The daemon's Live and phone sides with the OSC remote beside them.
struct Daemon
{
    explicit Daemon(bool throttled = false)
        : osc(side.cache, side.live, advertiser, side.settings,
              throttled ? OscRemote::Options() : unthrottled())
    {
        // A free port rather than the default one, which a running daemon may hold.
        quint16 free = 0;
        ::close(udpSocket(&free));
        side.settings.setValue(QStringLiteral("oscPort"), free);
        osc.start();
    }
    PhoneSide side;
    NoAdvertiser advertiser;
    OscRemote osc;
};

// Runs `far` on a thread while the event loop turns; returns when it is done.
void runBeside(const std::function<void()> &far)
{
    QEventLoop loop;
    std::thread thread([&] {
        far();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    thread.join();
}

// Accepts the Live connection; the daemon gets the identity handshake.
int acceptLive(int listener, bool handshake)
{
    const int live = ::accept(listener, nullptr, nullptr);
    const int one = 1;
    ::setsockopt(live, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (handshake) {
        const QByteArray identity = livelink::frame("MARQUELL_SERVER");
        char reply[15];
        writeAll(live, identity.constData(), identity.size());
        readAll(live, reply, 15);
    }
    return live;
}

std::vector<quint64> commandBlock(bool daemon, int count)
{
    quint16 livePort = 0;
    const int listener = listenLoopback(livePort);
    std::unique_ptr<Daemon> d;
    std::unique_ptr<BareLibloForwarder> bare;
    quint16 oscPort = 0;
    if (daemon) {
        d = std::make_unique<Daemon>();
        d->side.live.connectToLive(livePort);
        oscPort = d->osc.port();
    } else {
        bare = std::make_unique<BareLibloForwarder>(livePort);
        oscPort = bare->port();
    }
    std::vector<quint64> latencies;
    runBeside([&] {
        const int live = acceptLive(listener, daemon);
        QThread::msleep(100);
        const int sender = udpSocket();
        const QByteArray next = oscPacket("/marquell/next");
        for (int i = 0; i < 100 + count; ++i) {
            const quint64 start = nowNs();
            sendTo(sender, oscPort, next);
            char bytes[2];
            if (!readAll(live, bytes, 2) || bytes[0] != 1 || bytes[1] != 4)
                break;
            if (i >= 100)
                latencies.push_back(nowNs() - start);
        }
        ::close(sender);
        ::close(live);
    });
    ::close(listener);
    return latencies;
}

std::vector<quint64> fanOut(int subscribers, int changes)
{
    quint16 livePort = 0;
    const int listener = listenLoopback(livePort);
    Daemon d;
    d.side.live.connectToLive(livePort);
    std::vector<quint64> latencies;
    runBeside([&] {
        const int live = acceptLive(listener, true);
        std::vector<int> clients;
        for (int i = 0; i < subscribers; ++i) {
            clients.push_back(udpSocket());
            sendTo(clients.back(), d.osc.port(), oscPacket("/marquell/subscribe"));
        }
        QThread::msleep(1500); // the whole state reaches each, within its rate
        char buffer[512];
        for (int fd : clients)
            while (::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
            }
        for (int i = 0; i < changes; ++i) {
            const quint32 hundredths = 10000 + quint32(i);
            char tempo[5] = {8};
            qToBigEndian(hundredths, tempo + 1);
            const QByteArray framed = livelink::frame(QByteArray(tempo, 5));
            const quint64 start = nowNs();
            writeAll(live, framed.constData(), framed.size());
            bool all = true;
            for (int fd : clients)
                all = ::recv(fd, buffer, sizeof buffer, 0) > 0 && all;
            if (all)
                latencies.push_back(nowNs() - start);
            QThread::msleep(60); // one change per client stays under 20 messages a second
        }
        for (int fd : clients)
            ::close(fd);
        ::close(live);
    });
    ::close(listener);
    return latencies;
}

struct FloodRun
{
    std::vector<quint64> relay;
    double cpuPercent = 0;
    qint64 sent = 0;
};

FloodRun phoneRelay(bool flood, int frames)
{
    quint16 livePort = 0;
    const int listener = listenLoopback(livePort);
    Daemon d(true); // the flood meets the per-sender budget a real daemon has
    d.side.live.connectToLive(livePort);
    FloodRun run;
    std::atomic<bool> stop{false};
    const double cpuStart = threadCpuSeconds();
    const quint64 wallStart = nowNs();
    runBeside([&] {
        const int live = acceptLive(listener, true);
        const int phone = connectLoopback(d.side.phone.listeningPort());
        QThread::msleep(200);
        std::thread flooder;
        if (flood)
            flooder = std::thread([&] {
                const int fd = udpSocket();
                const QByteArray packets[] = {oscPacket("/marquell/next"),
                                              oscPacket("/marquell/nothing", 1),
                                              QByteArray("garbage!")};
                // Drain Live's side so forwarded commands never block the daemon.
                const quint64 t0 = nowNs();
                while (!stop) {
                    const qint64 due = qint64(double(nowNs() - t0) / 1e9 * 10000.0);
                    for (; run.sent < due; ++run.sent)
                        sendTo(fd, d.osc.port(), packets[run.sent % 3]);
                    QThread::usleep(500);
                }
                ::close(fd);
            });
        for (int i = 0; i < frames; ++i) {
            const QByteArray payload = QByteArray("\x08\x00\x00", 3) + char(0x2e) + char(i & 0xff);
            const QByteArray framed = livelink::frame(payload);
            const quint64 start = nowNs();
            writeAll(live, framed.constData(), framed.size());
            if (readFrame(phone) != payload)
                break;
            run.relay.push_back(nowNs() - start);
            QThread::usleep(1000);
            char sink[256]; // commands the flood got through
            while (::recv(live, sink, sizeof sink, MSG_DONTWAIT) > 0) {
            }
        }
        stop = true;
        if (flooder.joinable())
            flooder.join();
        ::close(phone);
        ::close(live);
    });
    run.cpuPercent = (threadCpuSeconds() - cpuStart) / (double(nowNs() - wallStart) / 1e9) * 100.0;
    ::close(listener);
    return run;
}

} // namespace

int main(int argc, char *argv[])
{
    FILE *results = resultsStream();
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(100, std::atoi(argv[1])) : 2000;

    std::vector<quint64> daemon, bare;
    for (int block = 0; block < 4; ++block) {
        const auto d = commandBlock(true, count / 4);
        const auto b = commandBlock(false, count / 4);
        daemon.insert(daemon.end(), d.begin(), d.end());
        bare.insert(bare.end(), b.begin(), b.end());
    }
    const double dP99 = percentile(daemon, 99), bP99 = percentile(bare, 99);
    std::fprintf(results, "OSC /marquell/next to Live bytes (%zu / %zu samples)\n", daemon.size(),
                 bare.size());
    std::fprintf(results, "  daemon p50 %.1f us p99 %.1f us; bare liblo p50 %.1f us p99 %.1f us\n",
                 percentile(daemon, 50), dP99, percentile(bare, 50), bP99);
    std::fprintf(results, "BENCH osc-command-to-live-p99 %.1f us %.1f r<=1.2\n", dP99, bP99);

    const auto fan = fanOut(20, 150);
    std::fprintf(results, "feedback to 20 subscribers: p50 %.2f ms p99 %.2f ms (%zu changes)\n",
                 percentile(fan, 50) / 1000.0, percentile(fan, 99) / 1000.0, fan.size());
    std::fprintf(results, "BENCH osc-feedback-fanout-20-p99 %.2f ms - <=10\n",
                 percentile(fan, 99) / 1000.0);

    const FloodRun calm = phoneRelay(false, 1500);
    const FloodRun flooded = phoneRelay(true, 1500);
    std::fprintf(results,
                 "phone relay p99: %.1f us calm, %.1f us during %lld OSC packets at 10,000/s; "
                 "main thread CPU %.1f%% calm, %.1f%% flooded\n",
                 percentile(calm.relay, 99), percentile(flooded.relay, 99),
                 static_cast<long long>(flooded.sent), calm.cpuPercent, flooded.cpuPercent);
    std::fprintf(results, "BENCH osc-flood-phone-relay-p99 %.1f us %.1f -\n",
                 percentile(flooded.relay, 99), percentile(calm.relay, 99));
    std::fprintf(results, "BENCH osc-flood-daemon-cpu %.1f %% %.1f -\n", flooded.cpuPercent,
                 calm.cpuPercent);
    std::fclose(results);
    return daemon.empty() || bare.empty() || fan.empty() ? 1 : 0;
}
