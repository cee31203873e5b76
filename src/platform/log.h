// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

// Log lines are part of the behaviour: fixed texts, exactly as the programs print
// them. Two sinks: standard output (one flushed line each) and the system log.
namespace mlog {

void out(const QString &line);
void system(const QString &line);
// Standard output with a "[yyyy-MM-dd HH:mm:ss.SSS] " local-time prefix.
void stamped(const QString &message);

// While alive, lines are recorded here instead of reaching the real sinks (tests).
// Lines may come from any thread.
class Capture final
{
public:
    Capture();
    ~Capture();
    Capture(const Capture &) = delete;
    Capture &operator=(const Capture &) = delete;

    QStringList outLines() const;    // standard output, prefix included
    QStringList systemLines() const; // system log
    // Standard-output lines with any time-stamp prefix removed.
    QStringList messages() const;
    bool contains(const QString &message) const { return messages().contains(message); }
    int count(const QString &message) const { return messages().count(message); }
    void clear();
};

} // namespace mlog
