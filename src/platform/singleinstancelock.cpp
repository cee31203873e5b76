// SPDX-License-Identifier: MIT
#include "singleinstancelock.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

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
    QLockFile probe(path);
    probe.setStaleLockTime(0);
    if (probe.tryLock(0)) {
        probe.unlock();
        return false;
    }
    return probe.error() == QLockFile::LockFailedError;
}

QString SingleInstanceLock::daemonLockPath()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder + QStringLiteral("/MarquellDaemon.lock");
}
