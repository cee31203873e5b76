// SPDX-License-Identifier: MIT
#pragma once

#include "remotescriptinstaller.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

// Small file helpers for the installer tests: a fake shipped folder and raw file I/O.
namespace scriptfixture {

inline QByteArray shippedContent(const QString &name, const QString &tag)
{
    return QStringLiteral("# %1 %2\n").arg(name, tag).toUtf8();
}

inline bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(content) == content.size();
}

// Empty when unreadable.
inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes the six shipped files into folder, each holding "# <name> <tag>".
inline void writeShippedFiles(const QString &folder, const QString &tag)
{
    for (const QString &name : RemoteScriptInstaller::remoteScriptFiles())
        writeFile(folder + QLatin1Char('/') + name, shippedContent(name, tag));
}

inline bool isLink(const QString &path)
{
    return QFileInfo(path).isSymLink();
}

} // namespace scriptfixture
