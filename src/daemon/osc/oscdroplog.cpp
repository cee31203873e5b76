// SPDX-License-Identifier: MIT
#include "oscdroplog.h"

#include "log.h"

void OscDropLog::refused(const QHostAddress &sender)
{
    const QString address = sender.toString();
    if (m_refusedSenders.contains(address))
        return;
    // Many spoofed senders must not grow the set for ever; they are named again later.
    if (m_refusedSenders.size() >= kRememberedSenders)
        m_refusedSenders.clear();
    m_refusedSenders.insert(address);
    mlog::out(QStringLiteral("OSC: dropping packets from %1 (not in oscAllowFrom)").arg(address));
}

void OscDropLog::dropped(const QString &why, const QHostAddress &sender, quint16 port)
{
    if (!m_window.isValid() || m_window.hasExpired(1000)) {
        if (m_unlogged > 0)
            mlog::out(
                QStringLiteral("OSC: %1 more packets dropped without a line each").arg(m_unlogged));
        m_window.start();
        m_linesInWindow = 0;
        m_unlogged = 0;
    }
    if (m_linesInWindow >= kLinesPerSecond) {
        ++m_unlogged;
        return;
    }
    ++m_linesInWindow;
    mlog::out(
        QStringLiteral("OSC: dropped from %1:%2 — %3").arg(sender.toString()).arg(port).arg(why));
}
