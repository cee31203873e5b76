// SPDX-License-Identifier: MIT
#pragma once

#include <QHash>
#include <QProcess>
#include <QStringList>

#include <functional>

// The midipeer helper as a child process: another JACK MIDI client beside the one
// under test. Lines it prints after "ready" are collected as they arrive.
class MidiPeerProcess final : public QObject
{
    Q_OBJECT

public:
    static bool jackRunning(); // a JACK server answers (scripts/test starts a private one)
    // JACK applies a new connection at a cycle boundary, so a message sent right after
    // connecting may be lost: sends again every 50 ms until arrived() (5 s at most).
    static bool resendUntil(const std::function<void()> &send,
                            const std::function<bool()> &arrived);

    MidiPeerProcess();
    ~MidiPeerProcess() override { finish(); }

    bool start(const QStringList &arguments); // "send NAME [...]" or "listen PATTERN"
    void sendHex(const QByteArray &bytes) { m_process.write(bytes.toHex(' ') + '\n'); }
    bool finish(); // closes stdin; true once the peer has exited

    QStringList lines() const { return m_lines; } // the probes left out
    // Listen mode: the one-byte probe, sent by send, is heard.
    bool hears(const QByteArray &probe, const std::function<void(const QByteArray &)> &send)
    {
        const QString line = QString::fromLatin1(probe.toHex());
        m_probes.insert(line, false);
        return resendUntil([&] { send(probe); }, [&] { return m_probes.value(line); });
    }
    QProcess &process() { return m_process; }

private:
    QProcess m_process;
    QStringList m_lines;
    QHash<QString, bool> m_probes; // heard yet?
    bool m_ready = false;
};
