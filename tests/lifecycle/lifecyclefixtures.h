// SPDX-License-Identifier: MIT
#pragma once

#include "remotescriptinstaller.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>

// File and store helpers for the life-cycle tests: a fake shipped folder, raw file
// I/O, and a second connection to the store as another process would open it.
namespace lifecyclefixtures {

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

// Runs sql on a store file through an independent connection; collects the first
// column of the result into rows when given.
inline bool peerExec(const QString &file, const QString &sql, QList<qint64> *rows = nullptr)
{
    const QString name = QStringLiteral("peer");
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(file);
        if (db.open()) {
            QSqlQuery query(db);
            ok = query.exec(sql);
            while (ok && rows && query.next())
                rows->append(query.value(0).toLongLong());
        }
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

inline QList<qint64> storedIds(const QString &file)
{
    QList<qint64> ids;
    peerExec(file, QStringLiteral("SELECT lastPortUniqueID FROM Preferences ORDER BY id"), &ids);
    return ids;
}

} // namespace lifecyclefixtures
