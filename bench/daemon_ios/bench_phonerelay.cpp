// SPDX-License-Identifier: MIT
// Relay latency, end to end: from a frame written by a loopback Live server to the
// same frame read by a phone client, through the daemon (AbletonSocket + iOSSocket),
// beside a minimal read-frame-write-frame relay in the same run (alternating blocks).
//
//   bench_phonerelay [frames per relay, default 10000]
#include "benchsupport.h"
#include "livelinkcodec.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <algorithm>
#include <thread>
#include <vector>

using namespace benchsupport;

namespace {

// What Live sends during a show: tempo and position most often, the pool now and then.
std::vector<QByteArray> showMix()
{
    QByteArray pool(1, 3);
    for (int i = 0; i < 40; ++i) {
        const QByteArray name = "Song number " + QByteArray::number(i);
        char id[8];
        qToBigEndian(0x8000000001000000ull + quint64(i), id);
        pool += QByteArray(id, 8) + char(name.size()) + name + char(4) + "3:45";
    }
    pool += char(4);
    std::vector<QByteArray> mix;
    for (int i = 0; i < 100; ++i) {
        if (i % 50 == 7)
            mix.push_back(pool);
        else if (i % 10 == 3)
            mix.push_back(QByteArray("\x05", 1) + char(i % 12));
        else if (i % 10 == 5)
            mix.push_back(QByteArray("\x01\x01", 2));
        else if (i % 25 == 19)
            mix.push_back(QByteArray("\x02", 1));
        else
            mix.push_back(QByteArray("\x08\x00\x00", 3) + char((12000 + i) >> 8) +
                          char((12000 + i) & 0xff));
    }
    return mix;
}

// The least a relay can do: read a frame from Live, write it framed to the phone.
class MinimalRelay final : public QObject
{
public:
    MinimalRelay(quint16 livePort)
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this,
                [this] { m_phone = m_server.nextPendingConnection(); });
        connect(&m_live, &QTcpSocket::readyRead, this, [this] {
            for (;;) {
                if (m_length == 0) {
                    if (m_live.bytesAvailable() < 4)
                        return;
                    char b[4];
                    m_live.read(b, 4);
                    m_length = qFromBigEndian<quint32>(b);
                }
                if (m_live.bytesAvailable() < m_length)
                    return;
                const QByteArray payload = m_live.read(m_length);
                m_length = 0;
                if (m_phone) {
                    m_phone->write(livelink::frame(payload));
                    m_phone->flush();
                }
            }
        });
        m_live.connectToHost(QHostAddress(QHostAddress::LocalHost), livePort);
    }
    quint16 phonePort() const { return m_server.serverPort(); }

private:
    QTcpServer m_server;
    QTcpSocket m_live;
    QTcpSocket *m_phone = nullptr;
    quint32 m_length = 0;
};

std::vector<quint64> runBlock(bool daemon, const std::vector<QByteArray> &mix, int frames,
                              int warmup)
{
    quint16 livePort = 0;
    const int listener = listenLoopback(livePort);
    std::unique_ptr<PhoneSide> side;
    std::unique_ptr<MinimalRelay> minimal;
    quint16 phonePort = 0;
    if (daemon) {
        side = std::make_unique<PhoneSide>();
        side->live.connectToLive(livePort);
        phonePort = side->phone.listeningPort();
    } else {
        minimal = std::make_unique<MinimalRelay>(livePort);
        phonePort = minimal->phonePort();
    }

    std::vector<quint64> latencies;
    latencies.reserve(size_t(frames));
    QEventLoop loop;
    std::thread far([&] {
        const int live = ::accept(listener, nullptr, nullptr);
        const int one = 1;
        ::setsockopt(live, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (daemon) {
            const QByteArray identity = livelink::frame("MARQUELL_SERVER");
            char reply[15];
            writeAll(live, identity.constData(), identity.size());
            readAll(live, reply, 15);
        }
        const int phone = connectLoopback(phonePort);
        QThread::msleep(200); // accepted and made the client before the first frame
        for (int i = 0; i < warmup + frames; ++i) {
            const QByteArray framed = livelink::frame(mix[size_t(i) % mix.size()]);
            const quint64 start = nowNs();
            if (!writeAll(live, framed.constData(), framed.size()) ||
                readFrame(phone) != mix[size_t(i) % mix.size()]) {
                std::fprintf(stderr, "frame %d did not arrive whole\n", i);
                break;
            }
            if (i >= warmup)
                latencies.push_back(nowNs() - start);
        }
        ::close(phone);
        ::close(live);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    far.join();
    ::close(listener);
    return latencies;
}

double percentile(std::vector<quint64> v, int p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return double(v[std::min(v.size() - 1, v.size() * size_t(p) / 100)]) / 1000.0;
}

} // namespace

int main(int argc, char *argv[])
{
    FILE *results = resultsStream();
    QCoreApplication app(argc, argv);
    const int total = argc > 1 ? std::max(100, std::atoi(argv[1])) : 10000;
    const int blocks = 5;
    const std::vector<QByteArray> mix = showMix();
    std::vector<quint64> daemon, minimal;
    for (int b = 0; b < blocks; ++b) {
        const std::vector<quint64> m = runBlock(false, mix, total / blocks, 200);
        minimal.insert(minimal.end(), m.begin(), m.end());
        const std::vector<quint64> d = runBlock(true, mix, total / blocks, 200);
        daemon.insert(daemon.end(), d.begin(), d.end());
    }
    const double d50 = percentile(daemon, 50), d99 = percentile(daemon, 99);
    const double m50 = percentile(minimal, 50), m99 = percentile(minimal, 99);
    std::fprintf(results,
                 "phone relay latency, Live server write -> phone client read, %zu frames each\n",
                 daemon.size());
    std::fprintf(results, "  daemon  : p50 %8.1f us  p99 %8.1f us\n", d50, d99);
    std::fprintf(results, "  minimal : p50 %8.1f us  p99 %8.1f us\n", m50, m99);
    std::fprintf(results, "  ratio   : p50 %.2f  p99 %.2f  (target <= 1.5)\n",
                 m50 > 0 ? d50 / m50 : 0.0, m99 > 0 ? d99 / m99 : 0.0);
    std::fprintf(results, "BENCH phone_relay_p50 %.1f us %.1f r<=1.5\n", d50, m50);
    std::fprintf(results, "BENCH phone_relay_p99 %.1f us %.1f r<=1.5\n", d99, m99);
    std::fclose(results);
    return daemon.size() == size_t(total / blocks * blocks) && minimal.size() == daemon.size() ? 0
                                                                                               : 1;
}
