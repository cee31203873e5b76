// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

// The midipeer helper as a child process: another JACK MIDI client beside the one
// under test. Lines it prints are collected as they arrive.
class MidiPeerProcess final : public QObject
{
    Q_OBJECT

public:
    // True when a JACK server answers (the private one scripts/test starts).
    static bool jackRunning();

    explicit MidiPeerProcess(QObject *parent = nullptr);
    ~MidiPeerProcess() override;

    // "send NAME [...]" or "listen PATTERN"; true once the peer printed "ready".
    bool start(const QStringList &arguments);
    void sendHex(const QByteArray &bytes); // one message to send (send mode)
    // Closes stdin; the peer exits. True once it has.
    bool finish();

    QStringList lines() const { return m_lines; } // after "ready"
    QProcess &process() { return m_process; }

private:
    void readLines();

    QProcess m_process;
    QByteArray m_pending;
    QStringList m_lines;
    bool m_ready = false;
};
