// SPDX-License-Identifier: MIT
#include "midipeerprocess.h"

#include "rtmidibackend.h"

#include <QTest>

bool MidiPeerProcess::jackRunning()
{
    return RtMidiBackend(RtMidi::UNIX_JACK, QStringLiteral("marquell-probe")).clientStatus() == 0;
}

bool MidiPeerProcess::resendUntil(const std::function<void()> &send,
                                  const std::function<bool()> &arrived)
{
    return QTest::qWaitFor(
        [&] {
            send();
            return QTest::qWaitFor(arrived, 50);
        },
        5000);
}

MidiPeerProcess::MidiPeerProcess()
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(&m_process, &QProcess::readyReadStandardOutput, this, [this] {
        while (m_process.canReadLine()) {
            const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
            if (m_probes.contains(line))
                m_probes[line] = true;
            else if (m_ready)
                m_lines.append(line);
            m_ready = m_ready || line == u"ready";
        }
    });
}

bool MidiPeerProcess::start(const QStringList &arguments)
{
    m_process.start(QStringLiteral(MARQUELL_MIDIPEER), arguments);
    return m_process.waitForStarted(5000) &&
           QTest::qWaitFor([&] { return m_ready || m_process.state() == QProcess::NotRunning; },
                           10000) &&
           m_ready;
}

bool MidiPeerProcess::finish()
{
    m_process.closeWriteChannel();
    if (m_process.state() == QProcess::NotRunning || m_process.waitForFinished(5000))
        return true;
    m_process.terminate();
    return m_process.waitForFinished(5000);
}
