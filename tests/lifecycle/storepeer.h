// SPDX-License-Identifier: MIT
#pragma once

#include <QList>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

// Runs sql on a store file through a second, independent connection: what another
// process would do. Collects the first column of the result into rows when given.
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
