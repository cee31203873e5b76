// SPDX-License-Identifier: MIT
#include "singleinstancelock.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QSysInfo>

#include <cerrno>
#include <csignal>

SingleInstanceLock::SingleInstanceLock(const QString &path) : m_lock(path)
{
    // The holder lives as long as it runs; never treat its lock as stale by age.
    m_lock.setStaleLockTime(0);
}

bool SingleInstanceLock::tryAcquire()
{
    QDir().mkpath(QFileInfo(m_lock.fileName()).absolutePath());
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
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

QString SingleInstanceLock::daemonLockPath()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder + QStringLiteral("/MarquellDaemon.lock");
}
