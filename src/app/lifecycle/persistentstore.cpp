// SPDX-License-Identifier: MIT
#include "persistentstore.h"

#include <QDir>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QStringList>
#include <QVariant>

#include <atomic>

namespace {

QString nextConnectionName()
{
    static std::atomic<int> counter{0};
    return QStringLiteral("marquell-store-%1").arg(counter.fetch_add(1));
}

QString describe(const QSqlError &error)
{
    return error.text().isEmpty() ? QStringLiteral("unknown database error") : error.text();
}

} // namespace

PersistentStore::PersistentStore() : m_connectionName(nextConnectionName()) {}

PersistentStore::~PersistentStore()
{
    if (m_db.isValid())
        m_db.close();
    m_db = QSqlDatabase();
    if (QSqlDatabase::contains(m_connectionName))
        QSqlDatabase::removeDatabase(m_connectionName);
}

QString PersistentStore::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

bool PersistentStore::fail(const QString &error)
{
    m_lastError = error;
    return false;
}

bool PersistentStore::open(const QString &folder)
{
    if (m_open)
        return true;
    if (folder.isEmpty())
        return fail(QStringLiteral("no application data folder"));
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("cannot create the folder %1").arg(folder));

    m_filePath = QDir(folder).filePath(containerName() + QStringLiteral(".sqlite"));
    if (!m_db.isValid())
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    if (!m_db.isValid())
        return fail(QStringLiteral("the SQLite driver is not available"));
    m_db.setDatabaseName(m_filePath);
    if (!m_db.open())
        return fail(describe(m_db.lastError()));

    // SQLite opens any file lazily; the schema statement is what proves it is a store.
    QSqlQuery query(m_db);
    if (!query.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS Preferences ("
                                   "id INTEGER PRIMARY KEY AUTOINCREMENT, "
                                   "lastPortUniqueID INTEGER NOT NULL DEFAULT -1)"))) {
        const QString error = describe(query.lastError());
        m_db.close();
        return fail(error);
    }
    m_open = true;
    migrate();
    return true;
}

// Version 0 to 1 adds the setlist library. All or nothing in one transaction: a file
// that cannot be written keeps its preferences readable and simply has no library.
void PersistentStore::migrate()
{
    QSqlQuery query(m_db);
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next()) {
        m_libraryError = describe(query.lastError());
        return;
    }
    const int version = query.value(0).toInt();
    query.finish();
    if (version >= kSchemaVersion)
        return;
    const QStringList steps = {
        QStringLiteral("CREATE TABLE IF NOT EXISTS Setlists ("
                       "id INTEGER PRIMARY KEY AUTOINCREMENT, "
                       "name TEXT NOT NULL, "
                       "setName TEXT NOT NULL DEFAULT '', "
                       "setKey TEXT NOT NULL DEFAULT '', "
                       "position INTEGER NOT NULL DEFAULT 0, "
                       "savedAt TEXT NOT NULL DEFAULT '')"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS SetlistEntries ("
                       "setlistId INTEGER NOT NULL, "
                       "position INTEGER NOT NULL, "
                       "songId INTEGER NOT NULL, "
                       "name TEXT NOT NULL, "
                       "length TEXT NOT NULL DEFAULT '', "
                       "stopAfter INTEGER NOT NULL DEFAULT 0, "
                       "PRIMARY KEY (setlistId, position))"),
        QStringLiteral("PRAGMA user_version = %1").arg(kSchemaVersion),
    };
    if (!m_db.transaction()) {
        m_libraryError = describe(m_db.lastError());
        return;
    }
    for (const QString &step : steps) {
        if (!query.exec(step)) {
            m_libraryError = describe(query.lastError());
            m_db.rollback();
            return;
        }
    }
    if (!m_db.commit()) {
        m_libraryError = describe(m_db.lastError());
        m_db.rollback();
    }
}

std::optional<qint64> PersistentStore::lastPortUniqueID()
{
    if (m_pendingLastPortUniqueID)
        return m_pendingLastPortUniqueID;
    if (!m_open)
        return std::nullopt;
    QSqlQuery query(m_db);
    if (!query.exec(
            QStringLiteral("SELECT lastPortUniqueID FROM Preferences ORDER BY id LIMIT 1"))) {
        m_lastError = describe(query.lastError());
        return std::nullopt;
    }
    if (!query.next())
        return std::nullopt;
    return query.value(0).toLongLong();
}

void PersistentStore::setLastPortUniqueID(qint64 id)
{
    m_pendingLastPortUniqueID = id;
}

bool PersistentStore::save()
{
    if (!hasChanges())
        return true;
    if (!m_open)
        return fail(QStringLiteral("the store is not open"));
    if (!m_db.transaction())
        return fail(describe(m_db.lastError()));

    QSqlQuery query(m_db);
    bool ok = query.exec(QStringLiteral("SELECT id FROM Preferences ORDER BY id LIMIT 1"));
    if (ok) {
        const bool exists = query.next();
        const QVariant id = exists ? query.value(0) : QVariant();
        query.finish();
        if (exists) {
            ok = query.prepare(
                QStringLiteral("UPDATE Preferences SET lastPortUniqueID = ? WHERE id = ?"));
            query.addBindValue(*m_pendingLastPortUniqueID);
            query.addBindValue(id);
        } else {
            ok = query.prepare(
                QStringLiteral("INSERT INTO Preferences (lastPortUniqueID) VALUES (?)"));
            query.addBindValue(*m_pendingLastPortUniqueID);
        }
        ok = ok && query.exec();
    }
    if (!ok) {
        const QString error = describe(query.lastError());
        m_db.rollback();
        return fail(error);
    }
    if (!m_db.commit()) {
        const QString error = describe(m_db.lastError());
        m_db.rollback();
        return fail(error);
    }
    m_pendingLastPortUniqueID.reset();
    return true;
}
