// SPDX-License-Identifier: MIT
#include "log.h"

#include <QDateTime>
#include <QMutex>
#include <QRegularExpression>

#include <cstdio>
#include <syslog.h>

namespace mlog {
namespace {

struct CaptureState
{
    QMutex mutex;
    QMutex outMutex; // one whole line per write: the probe logs from a pool thread
    int active = 0;
    QStringList out;
    QStringList system;
};

// The one piece of process-wide state: log sinks are reached from every thread.
CaptureState &state()
{
    static CaptureState s;
    return s;
}

bool record(QStringList CaptureState::*list, const QString &line)
{
    CaptureState &s = state();
    QMutexLocker lock(&s.mutex);
    if (s.active == 0)
        return false;
    (s.*list).append(line);
    return true;
}

} // namespace

void out(const QString &line)
{
    if (record(&CaptureState::out, line))
        return;
    const QByteArray bytes = line.toUtf8() + '\n';
    QMutexLocker lock(&state().outMutex);
    std::fwrite(bytes.constData(), 1, bytes.size(), stdout);
    std::fflush(stdout);
}

void system(const QString &line)
{
    if (record(&CaptureState::system, line))
        return;
    syslog(LOG_NOTICE, "%s", line.toUtf8().constData());
}

void stamped(const QString &message)
{
    const QString now =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    out(QLatin1Char('[') + now + QStringLiteral("] ") + message);
}

Capture::Capture()
{
    QMutexLocker lock(&state().mutex);
    ++state().active;
}

Capture::~Capture()
{
    QMutexLocker lock(&state().mutex);
    if (--state().active == 0) {
        state().out.clear();
        state().system.clear();
    }
}

QStringList Capture::outLines() const
{
    QMutexLocker lock(&state().mutex);
    return state().out;
}

QStringList Capture::systemLines() const
{
    QMutexLocker lock(&state().mutex);
    return state().system;
}

QStringList Capture::messages() const
{
    static const QRegularExpression prefix(
        QStringLiteral("^\\[\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3}\\] "));
    QStringList lines = outLines();
    for (QString &line : lines)
        line.remove(prefix);
    return lines;
}

void Capture::clear()
{
    QMutexLocker lock(&state().mutex);
    state().out.clear();
    state().system.clear();
}

} // namespace mlog
