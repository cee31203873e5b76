// SPDX-License-Identifier: MIT
// Latency of a transport command from SocketClient::sendTransportCommand until its two
// bytes arrive at a loopback server, beside a bare QTcpSocket writing the same bytes,
// interleaved send by send in the same run. Prints p50 and p99 of both and the ratios.
#include "livelinkcodec.h"
#include "socketclient.h"
#include "transportmappings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

bool readExactly(int fd, char *buffer, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::recv(fd, buffer + done, size - done, 0);
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

int listenLoopback(int *port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr *>(&address), size);
    ::listen(fd, 1);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size);
    *port = ntohs(address.sin_port);
    return fd;
}

// One blocking loopback server thread for both paths, so both see the same wake-ups:
// it accepts the client (and plays the handshake) and the bare socket, then stamps the
// arrival time of every two-byte message on either connection.
class Receiver
{
public:
    explicit Receiver(int messages)
        : m_arrivals{std::vector<qint64>(size_t(messages)), std::vector<qint64>(size_t(messages))}
    {
        m_listeners[0] = listenLoopback(&m_ports[0]);
        m_listeners[1] = listenLoopback(&m_ports[1]);
        m_thread = std::thread([this] { run(); });
    }
    ~Receiver()
    {
        m_thread.join();
        ::close(m_listeners[0]);
        ::close(m_listeners[1]);
    }
    int port(int path) const { return m_ports[path]; }
    int received(int path) const { return m_counts[path].load(std::memory_order_acquire); }
    qint64 arrival(int path, int i) const { return m_arrivals[path][size_t(i)]; }

private:
    void run()
    {
        const int client = ::accept(m_listeners[0], nullptr, nullptr);
        if (client < 0)
            return;
        const QByteArray token = livelink::frame(livelink::kServerIdentity);
        ::send(client, token.constData(), size_t(token.size()), 0);
        char reply[15];
        if (!readExactly(client, reply, sizeof reply))
            return;
        const int bare = ::accept(m_listeners[1], nullptr, nullptr);
        if (bare < 0)
            return;
        const int fds[2] = {client, bare};
        const size_t total = m_arrivals[0].size();
        char message[2];
        while (size_t(received(0)) < total || size_t(received(1)) < total) {
            pollfd waiters[2] = {{client, POLLIN, 0}, {bare, POLLIN, 0}};
            if (::poll(waiters, 2, -1) <= 0)
                break;
            for (int path = 0; path < 2; ++path) {
                if (!(waiters[path].revents & POLLIN))
                    continue;
                if (!readExactly(fds[path], message, sizeof message))
                    return;
                const int i = received(path);
                m_arrivals[path][size_t(i)] = nowNs();
                m_counts[path].store(i + 1, std::memory_order_release);
            }
        }
        ::close(client);
        ::close(bare);
    }

    std::vector<qint64> m_arrivals[2];
    int m_listeners[2] = {-1, -1};
    int m_ports[2] = {0, 0};
    std::atomic<int> m_counts[2]{0, 0};
    std::thread m_thread;
};

qint64 percentile(std::vector<qint64> values, double p)
{
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5));
    return values[index];
}

bool waitFor(const std::function<bool()> &done)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > 10000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    constexpr int kSends = 10000;
    const QByteArray command = livelink::encodeTransportCommand(4);

    Receiver receiver(kSends);

    TransportMappings mappings;
    SocketClient client(mappings);
    client.connectToServer(QStringLiteral("127.0.0.1"), receiver.port(0));
    QTcpSocket bare;
    bare.connectToHost(QStringLiteral("127.0.0.1"), quint16(receiver.port(1)));
    if (!waitFor([&] {
            return client.serverValidated() && bare.state() == QAbstractSocket::ConnectedState;
        })) {
        std::fprintf(stderr, "could not connect to the loopback receivers\n");
        return 1;
    }
    bare.setSocketOption(QAbstractSocket::LowDelayOption, 1); // as the client sets it

    std::vector<qint64> viaClient, viaBare;
    viaClient.reserve(kSends);
    viaBare.reserve(kSends);
    auto spinUntil = [&receiver](int path, int count) {
        while (receiver.received(path) < count)
            std::this_thread::yield();
    };
    for (int i = 0; i < kSends; ++i) {
        // Alternate which goes first so neither always runs on a warmer path.
        for (int turn = 0; turn < 2; ++turn) {
            const bool clientTurn = (turn == 0) == (i % 2 == 0);
            const qint64 start = nowNs();
            if (clientTurn) {
                client.sendTransportCommand(4);
                spinUntil(0, i + 1);
                viaClient.push_back(receiver.arrival(0, i) - start);
            } else {
                bare.write(command);
                bare.flush();
                spinUntil(1, i + 1);
                viaBare.push_back(receiver.arrival(1, i) - start);
            }
        }
        if (i % 500 == 0)
            QCoreApplication::processEvents();
    }

    const double c50 = double(percentile(viaClient, 0.50)) / 1000.0;
    const double c99 = double(percentile(viaClient, 0.99)) / 1000.0;
    const double b50 = double(percentile(viaBare, 0.50)) / 1000.0;
    const double b99 = double(percentile(viaBare, 0.99)) / 1000.0;
    std::printf("sends per path: %d (two bytes each, loopback)\n", kSends);
    std::printf("SocketClient::sendTransportCommand  p50 %8.1f us   p99 %8.1f us\n", c50, c99);
    std::printf("bare QTcpSocket write + flush       p50 %8.1f us   p99 %8.1f us\n", b50, b99);
    std::printf("ratio client/bare                   p50 %8.2f      p99 %8.2f   (target <= 1.2)\n",
                c50 / b50, c99 / b99);
    std::printf("BENCH app_send_p50 %.1f us %.1f r<=1.2\n", c50, b50);
    std::printf("BENCH app_send_p99 %.1f us %.1f r<=1.2\n", c99, b99);
    return 0;
}
