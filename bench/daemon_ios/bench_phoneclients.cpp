// SPDX-License-Identifier: MIT
// Phone clients coming and going: 1,000 connects, each replacing the last and each
// served the cached state, then disconnects. Open descriptors and RSS before and
// after should be flat, and only the last client is served.
//
//   bench_phoneclients [clients, default 1000]
#include "benchsupport.h"
#include "livelinkcodec.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <thread>

using namespace benchsupport;

int main(int argc, char *argv[])
{
    FILE *results = resultsStream();
    QCoreApplication app(argc, argv);
    const int clients = argc > 1 ? std::max(10, std::atoi(argv[1])) : 1000;

    PhoneSide side;
    // A show in the cache: every client gets the whole of it on connect.
    const QByteArray pool = fortySongPool();
    side.cache.currentState().songData = pool;
    side.cache.currentState().bpm = QByteArray("\x08\x00\x00\x2f\x12", 5);
    const quint16 port = side.phone.listeningPort();

    auto settle = [] {
        QEventLoop idle;
        QTimer::singleShot(300, &idle, &QEventLoop::quit);
        idle.exec();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    };
    auto churn = [&](int count, int *served, bool *lastServed) {
        QEventLoop loop;
        std::thread phones([&] {
            int previous = -1;
            for (int i = 0; i < count; ++i) {
                const int fd = connectLoopback(port);
                if (readFrame(fd) == pool && readFrame(fd).size() == 5)
                    ++*served;
                if (previous >= 0)
                    ::close(previous);
                previous = fd;
            }
            // The last one is the client: a relay reaches it.
            QMetaObject::invokeMethod(&side.phone, [&] { side.phone.sendToiOS(QByteArray(1, 2)); });
            *lastServed = readFrame(previous) == QByteArray(1, 2);
            ::close(previous);
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
        loop.exec();
        phones.join();
        settle();
    };

    int served = 0;
    bool lastServed = false;
    churn(20, &served, &lastServed); // warm up: buffers, allocator pools
    const int fdsBefore = openFds();
    const long rssBefore = rssKiB();
    served = 0;
    const quint64 start = nowNs();
    churn(clients, &served, &lastServed);
    const double seconds = double(nowNs() - start) / 1e9;
    const int fdsAfter = openFds();
    const long rssAfter = rssKiB();

    std::fprintf(results, "phone clients: %d connects, each replacing the last, %.2f s (%.0f/s)\n",
                 clients, seconds, clients / seconds);
    std::fprintf(
        results,
        "  served the cached state: %d of %d; the last one still served: %s; client now: %s\n",
        served, clients, lastServed ? "yes" : "no", side.phone.hasClient() ? "yes" : "no");
    std::fprintf(results, "  open descriptors: before %d, after %d\n", fdsBefore, fdsAfter);
    std::fprintf(results, "  RSS: before %ld KiB, after %ld KiB (%+ld KiB)\n", rssBefore, rssAfter,
                 rssAfter - rssBefore);
    std::fprintf(results, "BENCH phone_connect_rate %.0f conn/s - -\n", clients / seconds);
    std::fprintf(results, "BENCH phone_connect_unserved %d conns - =0\n",
                 clients - served + (lastServed ? 0 : 1));
    std::fprintf(results, "BENCH phone_connect_fd_growth %d fds - =0\n", fdsAfter - fdsBefore);
    std::fprintf(results, "BENCH phone_connect_rss_growth %ld KiB - -\n", rssAfter - rssBefore);
    std::fclose(results);
    return served == clients && lastServed ? 0 : 1;
}
