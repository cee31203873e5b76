// SPDX-License-Identifier: MIT
#pragma once

// Both programs' Live link objects, wired as their executables wire them, in one
// process against scripted servers, for the reconnection benchmarks and the soak.
// Loopback only; the home folder is a temporary one set before anything reads it.
#include "abletonsocket.h"
#include "daemonstatecache.h"
#include "livelinkcodec.h"
#include "livereconnector.h"
#include "nophonerelay.h"
#include "scriptedliveserver.h"
#include "serverdetector.h"
#include "serverportfile.h"
#include "socketclient.h"
#include "songmanager.h"
#include "transportmappings.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace liveprograms {

inline QByteArray identityFrame()
{
    const QByteArray id(livelink::kServerIdentity);
    return QByteArray(3, '\0') + char(id.size()) + id;
}

// Runs the event loop until done() holds, checking every millisecond; false after ms.
inline bool waitUntil(const std::function<bool()> &done, int ms = 5000)
{
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer tick;
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (done() || clock.elapsed() > ms)
            loop.quit();
    });
    tick.start();
    if (!done())
        loop.exec();
    return done();
}

// Points HOME at a temporary folder for the life of the process.
struct Home
{
    QTemporaryDir dir;
    Home()
    {
        qputenv("HOME", dir.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", (dir.path() + QStringLiteral("/.config")).toUtf8());
        QDir().mkpath(dir.path() + QStringLiteral("/run"));
        qputenv("XDG_RUNTIME_DIR", (dir.path() + QStringLiteral("/run")).toUtf8());
    }
    // As the Remote Script publishes: a temporary file renamed over server.json.
    static void publish(quint16 port)
    {
        const QString path = serverportfile::serverConfigPath();
        QDir().mkpath(QFileInfo(path).absolutePath());
        QSaveFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write("{\"port\": " + QByteArray::number(port) + "}");
        file.commit();
    }
};

struct AppSide
{
    TransportMappings mappings;
    SocketClient client{mappings};
    SongManager songs{client};
    ServerDetector detector{client};
    AppSide()
    {
        client.setSongManager(&songs);
        client.setServerDetector(&detector);
        detector.updateParameters(QStringLiteral("127.0.0.1"),
                                  serverportfile::readServerPort(serverportfile::serverConfigPath())
                                      .value_or(serverportfile::kDefaultPort));
        detector.startDetection();
    }
    bool searching() const { return detector.isDetecting() && !client.serverValidated(); }
};

struct DaemonSide
{
    NoPhoneRelay phone;
    DaemonStateCache cache{phone};
    AbletonSocket socket{cache, phone};
    LiveReconnector reconnector{socket, serverportfile::serverConfigPath()};
    int refusals = 0; // attempts that found nothing listening
    DaemonSide()
    {
        QObject::connect(&socket, &AbletonSocket::connectionStateChanged, &socket,
                         [this](const ConnectionState &state) {
                             refusals += state.kind == ConnectionState::Kind::Waiting;
                         });
        reconnector.start();
    }
    bool searching() const { return !socket.isConnected(); }
};

// A Live that greets every client with its identity.
struct Live
{
    ScriptedLiveServer server;
    Live() { server.setGreeting(identityFrame()); }
    // The identity, maybe followed by a subscription.
    bool answered() const { return server.received().startsWith(livelink::kClientIdentity); }
};

inline double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, size_t(p / 100.0 * double(values.size())));
    return values[index];
}

// One machine-readable figure for scripts/bench: name value unit baseline target.
inline void bench(const QByteArray &name, double value, const char *unit, const char *baseline,
                  const char *target)
{
    std::printf("BENCH %s %.3f %s %s %s\n", name.constData(), value, unit, baseline, target);
    std::fflush(stdout);
}

} // namespace liveprograms
