// SPDX-License-Identifier: MIT
#include "serverfilewatcher.h"

#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>

ServerFileWatcher::ServerFileWatcher(QString path, QObject *parent)
    : QObject(parent), m_path(std::move(path))
{
    QObject::connect(&m_watcher, &QFileSystemWatcher::fileChanged, this,
                     &ServerFileWatcher::onEvent);
    QObject::connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this,
                     &ServerFileWatcher::onEvent);
    arm();
    m_last = signature();
}

QStringList ServerFileWatcher::watched() const
{
    return m_watcher.files() + m_watcher.directories();
}

void ServerFileWatcher::arm()
{
    QStringList wanted;
    if (QFileInfo::exists(m_path))
        wanted << m_path;
    // The deepest folder on the way that exists: the file's own once Live made it.
    QString folder = QFileInfo(m_path).absolutePath();
    while (!QFileInfo(folder).isDir() && folder != QDir::rootPath())
        folder = QFileInfo(folder).absolutePath();
    wanted << folder;

    const QStringList current = watched();
    for (const QString &old : current)
        if (!wanted.contains(old))
            m_watcher.removePath(old);
    for (const QString &path : wanted)
        if (!current.contains(path))
            m_watcher.addPath(path);
}

void ServerFileWatcher::onEvent()
{
    arm();
    const Signature now = signature();
    if (now == m_last)
        return; // another entry of the folder, or the file's removal seen twice
    m_last = now;
    if (now.size >= 0)
        emit changed();
}

ServerFileWatcher::Signature ServerFileWatcher::signature() const
{
    struct stat info = {};
    if (::stat(QFile::encodeName(m_path).constData(), &info) != 0)
        return {};
#ifdef Q_OS_MACOS
    const qint64 ns = qint64(info.st_mtimespec.tv_sec) * 1000000000 + info.st_mtimespec.tv_nsec;
#else
    const qint64 ns = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
#endif
    return {info.st_ino, info.st_size, ns};
}
