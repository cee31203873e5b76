// SPDX-License-Identifier: MIT
// Age of the song position the show window draws. A stand-in for Live on its own
// thread plays songs on a 10 ms timer tick: every tenth tick it reports the position as
// of that tick, and every few seconds it jumps to the next song and reports at once.
// The real window (client, model, panel) draws on the offscreen platform; at every paint
// of the progress bar the age is how long ago Live was where the bar shows it: for the
// song Live is in, its true position minus the shown one; for a song Live has left, the
// time since it left. Prints p50, p99 and max, and the same for the paints just after a jump.
#include "livelinkcodec.h"
#include "showwindow.h"
#include "socketclient.h"
#include "songmanager.h"
#include "songposition.h"
#include "songprogresspanel.h"
#include "stagerunviewcontroller.h"
#include "transportmappings.h"

#include "daemonlauncher.h"

#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

constexpr auto kTick = std::chrono::milliseconds(10);
constexpr int kTicksPerReport = 10;
constexpr int kTicksPerSong = 200;
constexpr int kSongs = 10;
constexpr quint32 kSongLengthMs = 240000;

struct Segment
{
    quint64 songId;
    Clock::time_point start;
    Clock::time_point end = Clock::time_point::max();
};

bool sendAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.constData() + done, size_t(bytes.size() - done), 0);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

class FakeLive
{
public:
    FakeLive()
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
    ~FakeLive()
    {
        m_thread.join();
        ::close(m_listener);
    }
    int port() const { return m_port; }
    bool finished() const { return m_finished; }
    std::vector<Segment> segments() const
    {
        std::lock_guard lock(m_mutex);
        return m_segments;
    }

private:
    void run()
    {
        const int fd = ::accept(m_listener, nullptr, nullptr);
        sendAll(fd, livelink::frame(livelink::kServerIdentity));
        char hello[17];
        qsizetype got = 0;
        while (got < qsizetype(sizeof hello)) { // the identity reply and the subscription
            const ssize_t n = ::recv(fd, hello + got, sizeof hello - size_t(got), 0);
            if (n <= 0)
                break;
            got += n;
        }
        const Clock::time_point first = Clock::now();
        for (int tick = 0; tick < kSongs * kTicksPerSong; ++tick) {
            const Clock::time_point at = first + tick * kTick;
            std::this_thread::sleep_until(at);
            const bool jump = tick % kTicksPerSong == 0;
            if (!jump && tick % kTicksPerReport != 0)
                continue;
            Segment current;
            {
                std::lock_guard lock(m_mutex);
                if (jump) {
                    if (!m_segments.empty())
                        m_segments.back().end = at;
                    m_segments.push_back({quint64(m_segments.size() + 1), at});
                }
                current = m_segments.back();
            }
            livelink::SongPosition position;
            position.songId = current.songId;
            position.elapsedMs = quint32(
                std::chrono::duration_cast<std::chrono::milliseconds>(at - current.start).count());
            position.lengthMs = kSongLengthMs;
            position.state = livelink::SongPosition::Playing;
            QByteArray bytes;
            if (jump)
                bytes += livelink::frame(livelink::encodeSections(
                    {current.songId, {{"Intro", 0, 60000}, {"Verse", 60000, 180000}}}));
            bytes += livelink::frame(livelink::encodeSongPosition(position));
            if (!sendAll(fd, bytes))
                break;
        }
        {
            std::lock_guard lock(m_mutex);
            m_segments.back().end = Clock::now();
        }
        m_finished = true;
        ::close(fd);
    }

    int m_listener = -1;
    int m_port = 0;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::vector<Segment> m_segments;
    std::atomic<bool> m_finished{false};
};

struct NoLauncher final : DaemonLauncher
{
    void launchDaemonIfNeeded() override {}
    bool isDaemonRunning() const override { return false; }
};

struct Drawn
{
    Clock::time_point at;
    quint64 songId;
    quint32 elapsedMs;
};

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * double(values.size())))];
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TransportMappings mappings;
    SocketClient client{mappings};
    SongManager songs{client};
    SongPositionModel position;
    client.setSongManager(&songs);
    client.setSongPosition(&position);
    NoLauncher launcher;
    ShowWindowServices services{songs, client, launcher, &position};
    const auto window = createShowWindow(services);
    auto *panel = window->findChild<SongProgressPanel *>(QStringLiteral("songProgressPanel"));
    std::vector<Drawn> drawn;
    drawn.reserve(10000);
    panel->setDrawObserver([&drawn](quint64 songId, quint32 elapsedMs) {
        drawn.push_back({Clock::now(), songId, elapsedMs});
    });
    window->resize(1100, 760);
    window->show();

    FakeLive live;
    client.connectToServer(QStringLiteral("127.0.0.1"), live.port());
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &app, [&] {
        if (live.finished())
            app.quit();
    });
    poll.start(50);
    app.exec();

    const std::vector<Segment> segments = live.segments();
    std::vector<double> ages;
    std::vector<double> afterJump; // the first paint of each new song
    quint64 lastSong = 0;
    for (const Drawn &d : drawn) {
        if (d.songId == 0 || d.songId > segments.size())
            continue;
        const Segment &s = segments[d.songId - 1];
        if (d.at > s.end + std::chrono::milliseconds(1000))
            break; // Live has stopped sending: the end of the run
        double age;
        if (d.at <= s.end)
            age = Ms(d.at - s.start).count() - d.elapsedMs;
        else
            age = Ms(d.at - s.end).count();
        ages.push_back(age);
        if (d.songId != lastSong && d.songId > 1)
            afterJump.push_back(Ms(d.at - s.start).count());
        lastSong = d.songId;
    }
    std::printf("%zu paints over %zu songs; age of the drawn position, ms: p50 %.2f p99 %.2f "
                "max %.2f; first paint after a jump: p50 %.2f max %.2f\n",
                ages.size(), segments.size(), percentile(ages, 0.5), percentile(ages, 0.99),
                ages.empty() ? 0.0 : *std::max_element(ages.begin(), ages.end()),
                percentile(afterJump, 0.5),
                afterJump.empty() ? 0.0 : *std::max_element(afterJump.begin(), afterJump.end()));
    std::printf("BENCH window_position_age_p50 %.2f ms - -\n", percentile(ages, 0.5));
    std::printf("BENCH window_position_age_p99 %.2f ms - <=15\n", percentile(ages, 0.99));
    std::printf("BENCH window_jump_drawn_p99 %.2f ms - <=15\n", percentile(afterJump, 0.99));
    return ages.empty() ? 1 : 0;
}
