// SPDX-License-Identifier: MIT
#pragma once

#include <QElapsedTimer>
#include <QHostAddress>
#include <QSet>
#include <QString>

// The log of packets the OSC listener drops. A sender outside the allow-list is
// named once; other drops are logged one by one up to a few a second, then counted
// and summed up, so a flood cannot turn into a flood of log lines.
class OscDropLog final
{
public:
    void refused(const QHostAddress &sender);
    void dropped(const QString &why, const QHostAddress &sender, quint16 port);

private:
    static constexpr int kLinesPerSecond = 10;
    static constexpr qsizetype kRememberedSenders = 1024;

    QSet<QString> m_refusedSenders;
    QElapsedTimer m_window;
    int m_linesInWindow = 0;
    qint64 m_unlogged = 0;
};
