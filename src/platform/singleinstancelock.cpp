// SPDX-License-Identifier: MIT
#include "singleinstancelock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QSysInfo>

#include <cerrno>
#include <csignal>

#ifdef Q_OS_MACOS
#include <libproc.h>
#endif

namespace {

// The executable's file name of a running process; empty when it cannot be read.
QString programName(qint64 pid)
{
#ifdef Q_OS_MACOS
    char path[PROC_PIDPATHINFO_MAXSIZE] = {};
    if (proc_pidpath(static_cast<int>(pid), path, sizeof path) <= 0)
        return {};
    return QFileInfo(QString::fromLocal8Bit(path)).fileName();
#else
    const QString proc = QStringLiteral("/proc/%1/").arg(pid);
    QString exe = QFile::symLinkTarget(proc + QStringLiteral("exe"));
    if (!exe.isEmpty()) {
        exe.remove(QStringLiteral(" (deleted)")); // replaced by an update while running
        return QFileInfo(exe).fileName();
    }
    QFile comm(proc + QStringLiteral("comm")); // another user's process: exe is unreadable
    if (!comm.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(comm.readAll()).trimmed();
#endif
}

// After a crash the id may have gone to another program: the lock is held only when
// the process still runs the program that wrote it (comm is cut at 15 characters).
bool runsProgram(qint64 pid, const QString &program)
{
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM)
        return false;
    const QString running = programName(pid);
    if (running.isEmpty())
        return true; // alive, and nothing more can be learnt
    return running == program || (running.size() == 15 && program.startsWith(running));
}

} // namespace

SingleInstanceLock::SingleInstanceLock(const QString &path) : m_lock(path)
{
    // The holder lives as long as it runs; never treat its lock as stale by age.
    m_lock.setStaleLockTime(0);
}

bool SingleInstanceLock::tryAcquire()
{
    QDir().mkpath(QFileInfo(m_lock.fileName()).absolutePath());
    if (m_lock.tryLock(0))
        return true;
    // A live process that is not the one that wrote the file does not hold it.
    if (m_lock.error() != QLockFile::LockFailedError || isHeld(m_lock.fileName()))
        return false;
    m_lock.removeStaleLockFile();
    return m_lock.tryLock(0);
}

bool SingleInstanceLock::isHeld(const QString &path)
{
    // Read the holder's id instead of taking the lock for a moment: a daemon starting
    // during such a probe would see the prober as another copy and exit.
    QLockFile probe(path);
    qint64 pid = 0;
    QString host;
    QString app;
    if (!probe.getLockInfo(&pid, &host, &app) || pid <= 0)
        return false;
    if (!host.isEmpty() && host != QSysInfo::machineHostName())
        return true; // a holder on another machine (shared home): cannot be checked, assume alive
    return runsProgram(pid, app);
}

QString SingleInstanceLock::daemonLockPath()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder + QStringLiteral("/MarquellDaemon.lock");
}
