// SPDX-License-Identifier: MIT
#pragma once

#include "remotescriptinstaller.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <optional>

// The life-cycle tests' fake shipped folder, raw file I/O and peer store connection.
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

// Real files, never links, holding the shipped content.
inline void verifyShippedCopy(const QString &folder, const QString &tag)
{
    for (const QString &name : RemoteScriptInstaller::remoteScriptFiles()) {
        const QString file = folder + QLatin1Char('/') + name;
        QVERIFY2(!QFileInfo(file).isSymLink(), qPrintable(file));
        QCOMPARE(readFile(file), shippedContent(name, tag));
    }
}

// Runs sql on a store file through a connection of its own, as another process would:
// the first column of the result, none when the statement fails.
inline std::optional<QList<qint64>> peerExec(const QString &file, const QString &sql)
{
    std::optional<QList<qint64>> rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "peer");
        db.setDatabaseName(file);
        QSqlQuery query(db);
        if (db.open() && query.exec(sql))
            for (rows.emplace(); query.next();)
                rows->append(query.value(0).toLongLong());
    }
    QSqlDatabase::removeDatabase(QStringLiteral("peer"));
    return rows;
}

// A fake's answers to the alerts that do not wait, given on a later turn of the event
// loop as a user would; a test waits for pending to reach 0.
struct LaterAnswers
{
    void later(std::function<void()> answer)
    {
        ++pending;
        QTimer::singleShot(0, [this, answer] {
            --pending;
            answer();
        });
    }
    int pending = 0;
};

inline QList<qint64> storedIds(const QString &file)
{
    return peerExec(file, "SELECT lastPortUniqueID FROM Preferences ORDER BY id")
        .value_or(QList<qint64>());
}

} // namespace lifecyclefixtures
