// SPDX-License-Identifier: MIT
#pragma once
// Shared by the phone-side benchmarks: raw loopback sockets for the far ends (they
// run on their own threads, like a real Live and a real phone), process figures,
// and the daemon's phone side with no DNS-SD and no MIDI output.

#include "abletonsocket.h"
#include "daemonstatecache.h"
#include "iossocket.h"
#include "midisink.h"
#include "nophonerelay.h"
#include "serviceadvertiser.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtEndian>

#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace benchsupport {

inline quint64 nowNs()
{
    return quint64(std::chrono::duration_cast<std::chrono::nanoseconds>(
                       std::chrono::steady_clock::now().time_since_epoch())
                       .count());
}

inline long rssKiB()
{
    long pages = 0, resident = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

inline int openFds()
{
    int count = 0;
    if (DIR *dir = opendir("/proc/self/fd")) {
        while (readdir(dir))
            ++count;
        closedir(dir);
    }
    return count - 3; // ".", ".." and the directory's own descriptor
}

inline int listenLoopback(quint16 &port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&addr), len) != 0 ||
        ::listen(fd, 64) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
        return -1;
    port = ntohs(addr.sin_port);
    return fd;
}

inline int connectLoopback(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

inline bool writeAll(int fd, const char *data, qsizetype size)
{
    qsizetype done = 0;
    while (done < size) {
        const ssize_t n = ::send(fd, data + done, size_t(size - done), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

inline bool readAll(int fd, char *data, qsizetype size)
{
    qsizetype done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, data + done, size_t(size - done));
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// One frame from the daemon: its payload, or empty when the connection ended.
inline QByteArray readFrame(int fd)
{
    char header[4];
    if (!readAll(fd, header, 4))
        return {};
    QByteArray payload(qFromBigEndian<quint32>(header), Qt::Uninitialized);
    return readAll(fd, payload.data(), payload.size()) ? payload : QByteArray();
}

class NoAdvertiser final : public ServiceAdvertiser
{
public:
    void advertise(const Service &service) override { emit advertised(service.name); }
    void withdraw() override {}
};

class NoMidi final : public MidiSink
{
public:
    void send(quint8, quint8, quint8) override {}
};

// The daemon's Live side and phone side as main wires them, listening on loopback.
struct PhoneSide
{
    PhoneSide()
        : settings(dir.path() + QStringLiteral("/daemon.ini"), QSettings::IniFormat),
          cache(placeholder), live(cache, placeholder),
          phone(live, cache, midi, advertiser, settings, options())
    {
        // A free port rather than the default one, which a running daemon may hold.
        quint16 free = 0;
        const int probe = listenLoopback(free);
        ::close(probe);
        settings.setValue(QStringLiteral("iosListenerPort"), free);
        phone.startAdvertising(QStringLiteral("Marquell"), QStringLiteral("_marquell._tcp"));
    }
    static iOSSocket::Options options()
    {
        iOSSocket::Options o;
        o.address = QHostAddress(QHostAddress::LocalHost);
        return o;
    }

    QTemporaryDir dir;
    QSettings settings;
    NoPhoneRelay placeholder;
    DaemonStateCache cache;
    AbletonSocket live;
    NoMidi midi;
    NoAdvertiser advertiser;
    iOSSocket phone;
};

// The daemon prints its lines as in use; keep them out of the figures, which go to
// the returned stream (the original standard output).
// A cached song pool of 40 songs: the show a phone gets whole on connect.
inline QByteArray fortySongPool()
{
    QByteArray pool(1, 3);
    for (int i = 0; i < 40; ++i)
        pool += QByteArray(8, char(0x80 + i)) + char(6) + "Song " + char('A' + i % 26) + char(4) +
                "3:45";
    return pool;
}

inline FILE *resultsStream()
{
    const int fd = ::dup(STDOUT_FILENO);
    if (!std::freopen("/dev/null", "w", stdout))
        return stderr;
    return ::fdopen(fd, "w");
}

} // namespace benchsupport
