// SPDX-License-Identifier: MIT
#include "midipeerprocess.h"

#include "rtmidibackend.h"

#include <QTest>

bool MidiPeerProcess::jackRunning()
{
    const RtMidiBackend probe(RtMidi::UNIX_JACK, QStringLiteral("marquell-probe"));
    return probe.clientStatus() == 0;
}

MidiPeerProcess::MidiPeerProcess(QObject *parent) : QObject(parent)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &MidiPeerProcess::readLines);
}

MidiPeerProcess::~MidiPeerProcess()
{
    finish();
}

bool MidiPeerProcess::start(const QStringList &arguments)
{
    m_process.start(QStringLiteral(MARQUELL_MIDIPEER), arguments);
    if (!m_process.waitForStarted(5000))
        return false;
    return QTest::qWaitFor([&] { return m_ready || m_process.state() == QProcess::NotRunning; },
                           10000) &&
           m_ready;
}

void MidiPeerProcess::sendHex(const QByteArray &bytes)
{
    m_process.write(bytes.toHex(' ') + '\n');
}

bool MidiPeerProcess::finish()
{
    if (m_process.state() == QProcess::NotRunning)
        return true;
    m_process.closeWriteChannel();
    if (m_process.waitForFinished(5000))
        return true;
    m_process.terminate();
    return m_process.waitForFinished(5000);
}

void MidiPeerProcess::readLines()
{
    m_pending += m_process.readAllStandardOutput();
    qsizetype end;
    while ((end = m_pending.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(m_pending.left(end)).trimmed();
        m_pending.remove(0, end + 1);
        if (!m_ready && line == u"ready")
            m_ready = true;
        else if (m_ready)
            m_lines.append(line);
    }
}
