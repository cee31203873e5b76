// SPDX-License-Identifier: MIT
#pragma once

#include <QLockFile>
#include <QString>

// One daemon per user: the daemon holds this lock for its whole life, and the
// application asks the same lock whether a daemon runs before starting one.
class SingleInstanceLock final
{
public:
    explicit SingleInstanceLock(const QString &path);

    // Takes the lock for the life of this object; false when another live process
    // holds it. A lock left by a crashed process is taken over.
    bool tryAcquire();

    // True when a live process that runs the program named in the lock (the
    // daemon's: MarquellDaemon) holds the lock at path.
    static bool isHeld(const QString &path);

    // <runtime folder>/MarquellDaemon.lock
    static QString daemonLockPath();

private:
    QLockFile m_lock;
};
