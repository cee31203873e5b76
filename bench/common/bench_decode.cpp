// SPDX-License-Identifier: MIT
// Decode throughput for a full 4096-byte song-pool frame: frame reader plus decoder.
#include "framereader.h"
#include "livelinkcodec.h"

#include <QElapsedTimer>
#include <QtEndian>

#include <cstdio>

namespace {

QByteArray songRecord(quint64 id, const QByteArray &name)
{
    QByteArray record(8, '\0');
    qToBigEndian(0x8000000000000000ULL | id, record.data());
    record.append(char(name.size())).append(name).append(char(4)).append("4:05");
    return record;
}

// A pool and a setlist of the same songs, with the last setlist name sized so the
// payload is exactly 4096 bytes.
QByteArray fullSongPoolPayload()
{
    QByteArray pool(1, '\x03');
    QByteArray setlist(1, '\x04');
    quint64 id = 0;
    for (;; ++id) {
        const QByteArray record =
            songRecord(id, "Song number " + QByteArray::number(id) + " (extended mix)");
        if (pool.size() + setlist.size() + 2 * record.size() + 14 > livelink::kMaxPayload)
            break;
        pool += record;
        setlist += record;
    }
    const qsizetype fill = livelink::kMaxPayload - pool.size() - setlist.size() - 14;
    setlist += songRecord(id, QByteArray(fill, 'x'));
    return pool + setlist;
}

} // namespace

int main()
{
    const QByteArray payload = fullSongPoolPayload();
    const QByteArray frame = livelink::frame(payload);
    const auto sample = std::get<livelink::SongPoolUpdate>(livelink::decodeServerMessage(payload));

    constexpr int iterations = 20000;
    FrameReader reader;
    qsizetype songs = 0;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < iterations; ++i) {
        reader.feed(frame);
        const FrameReader::Result r = reader.next();
        const auto decoded = livelink::decodeServerMessage(r.payload);
        songs += std::get<livelink::SongPoolUpdate>(decoded).pool.size();
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    std::printf("song-pool frame: %lld bytes, %lld pool songs + %lld setlist songs\n",
                static_cast<long long>(frame.size()), static_cast<long long>(sample.pool.size()),
                static_cast<long long>(sample.setlist.size()));
    std::printf("decoded %d frames in %.3f s: %.0f messages/s, %.1f MB/s (%lld songs)\n",
                iterations, seconds, iterations / seconds,
                iterations * frame.size() / seconds / 1e6, static_cast<long long>(songs));
    // The rate in MB/s, as it was first measured, and the same run in messages.
    std::printf("BENCH songpool_decode_rate %.1f MB/s - -\n",
                iterations * frame.size() / seconds / 1e6);
    std::printf("BENCH songpool_decode_msg_rate %.0f msg/s - -\n", iterations / seconds);
    return 0;
}
