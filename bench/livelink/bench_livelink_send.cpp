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
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
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

// A blocking loopback server on its own thread: accepts one client, optionally plays the
// handshake, then stamps the arrival time of every two-byte message.
class Receiver
{
public:
    Receiver(int messages, bool handshake) : m_arrivals(size_t(messages)), m_handshake(handshake)
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), size);
        ::listen(m_listener, 1);
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &size);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~Receiver()
    {
        m_thread.join();
        ::close(m_listener);
    }
    int port() const { return m_port; }
    int received() const { return m_count.load(std::memory_order_acquire); }
    qint64 arrival(int i) const { return m_arrivals[size_t(i)]; }

private:
    void run()
    {
        const int fd = ::accept(m_listener, nullptr, nullptr);
        if (fd < 0)
            return;
        if (m_handshake) {
            const QByteArray token = livelink::frame(livelink::kServerIdentity);
            ::send(fd, token.constData(), size_t(token.size()), 0);
            char reply[15];
            if (!readExactly(fd, reply, sizeof reply))
                return;
        }
        char message[2];
        for (size_t i = 0; i < m_arrivals.size(); ++i) {
            if (!readExactly(fd, message, sizeof message))
                break;
            m_arrivals[i] = nowNs();
            m_count.store(int(i) + 1, std::memory_order_release);
        }
        ::close(fd);
    }

    std::vector<qint64> m_arrivals;
    bool m_handshake;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<int> m_count{0};
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

    Receiver clientSide(kSends, true);
    Receiver bareSide(kSends, false);

    TransportMappings mappings;
    SocketClient client(mappings);
    client.connectToServer(QStringLiteral("127.0.0.1"), clientSide.port());
    QTcpSocket bare;
    bare.connectToHost(QStringLiteral("127.0.0.1"), quint16(bareSide.port()));
    if (!waitFor([&] { return client.serverValidated() && bare.state() == QAbstractSocket::ConnectedState; })) {
        std::fprintf(stderr, "could not connect to the loopback receivers\n");
        return 1;
    }
    bare.setSocketOption(QAbstractSocket::LowDelayOption, 1); // as the client sets it

    std::vector<qint64> viaClient, viaBare;
    viaClient.reserve(kSends);
    viaBare.reserve(kSends);
    auto spinUntil = [](const Receiver &r, int count) {
        while (r.received() < count)
            std::this_thread::yield();
    };
    for (int i = 0; i < kSends; ++i) {
        // Alternate which goes first so neither always runs on a warmer path.
        for (int turn = 0; turn < 2; ++turn) {
            const bool clientTurn = (turn == 0) == (i % 2 == 0);
            const qint64 start = nowNs();
            if (clientTurn) {
                client.sendTransportCommand(4);
                spinUntil(clientSide, i + 1);
                viaClient.push_back(clientSide.arrival(i) - start);
            } else {
                bare.write(command);
                bare.flush();
                spinUntil(bareSide, i + 1);
                viaBare.push_back(bareSide.arrival(i) - start);
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
    std::printf("ratio client/bare                   p50 %8.2f      p99 %8.2f   (target <= 1.2)\n", c50 / b50,
                c99 / b99);
    return 0;
}
