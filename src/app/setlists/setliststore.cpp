// SPDX-License-Identifier: MIT
#include "setliststore.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

QString describe(const QSqlError &error)
{
    // SQLite's own words ("database or disk is full") without the driver's addition.
    const QString text = error.databaseText().trimmed().isEmpty() ? error.text().trimmed()
                                                                  : error.databaseText().trimmed();
    return text.isEmpty() ? QStringLiteral("unknown database error") : text;
}

// A null QString binds as NULL, which the NOT NULL columns refuse.
QString text(const QString &s)
{
    return s.isNull() ? QStringLiteral("") : s;
}

} // namespace

SetlistStore::SetlistStore(QSqlDatabase db, const QString &unavailable)
    : m_db(std::move(db)), m_unavailable(unavailable)
{
    if (!m_db.isOpen() && m_unavailable.isEmpty())
        m_unavailable = QStringLiteral("the store is not open");
}

bool SetlistStore::fail(const QString &error)
{
    m_lastError = error;
    return false;
}

template <typename Work> bool SetlistStore::inTransaction(Work work)
{
    if (!isAvailable())
        return fail(m_unavailable);
    if (!m_db.transaction())
        return fail(describe(m_db.lastError()));
    QSqlQuery query(m_db);
    if (!work(query)) {
        const QString error = describe(query.lastError());
        query.finish();
        m_db.rollback();
        return fail(error);
    }
    query.finish();
    if (!m_db.commit()) {
        const QString error = describe(m_db.lastError());
        m_db.rollback();
        return fail(error);
    }
    return true;
}

std::optional<QList<SavedSetlist>> SetlistStore::readAll()
{
    if (!isAvailable()) {
        fail(m_unavailable);
        return std::nullopt;
    }
    QSqlQuery query(m_db);
    if (!query.exec(QStringLiteral("SELECT id, name, setName, setKey, savedAt FROM Setlists "
                                   "ORDER BY position, id"))) {
        fail(describe(query.lastError()));
        return std::nullopt;
    }
    QList<SavedSetlist> setlists;
    while (query.next()) {
        SavedSetlist s;
        s.id = query.value(0).toLongLong();
        s.name = query.value(1).toString();
        s.setName = query.value(2).toString();
        s.setKey = query.value(3).toString();
        s.savedAt = QDateTime::fromString(query.value(4).toString(), Qt::ISODate);
        setlists.append(s);
    }
    query.finish();
    if (!query.exec(QStringLiteral("SELECT setlistId, songId, name, length, stopAfter "
                                   "FROM SetlistEntries ORDER BY setlistId, position"))) {
        fail(describe(query.lastError()));
        return std::nullopt;
    }
    QHash<qint64, qsizetype> indexOf;
    for (qsizetype i = 0; i < setlists.size(); ++i)
        indexOf.insert(setlists[i].id, i);
    while (query.next()) {
        const auto it = indexOf.constFind(query.value(0).toLongLong());
        if (it == indexOf.constEnd())
            continue;
        setlists[*it].entries.append({quint64(query.value(1).toLongLong()),
                                      query.value(2).toString(), query.value(3).toString(),
                                      query.value(4).toInt() != 0});
    }
    return setlists;
}

bool SetlistStore::insert(SavedSetlist &setlist, int position)
{
    qint64 id = 0;
    const bool ok = inTransaction([&](QSqlQuery &q) {
        q.prepare(QStringLiteral("INSERT INTO Setlists (name, setName, setKey, position, savedAt) "
                                 "VALUES (?, ?, ?, ?, ?)"));
        q.addBindValue(text(setlist.name));
        q.addBindValue(text(setlist.setName));
        q.addBindValue(text(setlist.setKey));
        q.addBindValue(position);
        q.addBindValue(setlist.savedAt.toString(Qt::ISODate));
        if (!q.exec())
            return false;
        id = q.lastInsertId().toLongLong();
        if (!q.prepare(QStringLiteral("INSERT INTO SetlistEntries "
                                      "(setlistId, position, songId, name, length, stopAfter) "
                                      "VALUES (?, ?, ?, ?, ?, ?)")))
            return false;
        for (qsizetype i = 0; i < setlist.entries.size(); ++i) {
            const SetlistEntry &e = setlist.entries[i];
            q.addBindValue(id);
            q.addBindValue(qint64(i));
            q.addBindValue(qint64(e.songId)); // the bits of the unsigned id
            q.addBindValue(text(e.name));
            q.addBindValue(text(e.length));
            q.addBindValue(e.stopAfter ? 1 : 0);
            if (!q.exec())
                return false;
        }
        return true;
    });
    if (ok)
        setlist.id = id;
    return ok;
}

bool SetlistStore::rename(qint64 id, const QString &name)
{
    return inTransaction([&](QSqlQuery &q) {
        q.prepare(QStringLiteral("UPDATE Setlists SET name = ? WHERE id = ?"));
        q.addBindValue(text(name));
        q.addBindValue(id);
        return q.exec();
    });
}

bool SetlistStore::remove(qint64 id)
{
    return inTransaction([&](QSqlQuery &q) {
        q.prepare(QStringLiteral("DELETE FROM SetlistEntries WHERE setlistId = ?"));
        q.addBindValue(id);
        if (!q.exec())
            return false;
        q.prepare(QStringLiteral("DELETE FROM Setlists WHERE id = ?"));
        q.addBindValue(id);
        return q.exec();
    });
}

bool SetlistStore::writeOrder(const QList<qint64> &ids)
{
    return inTransaction([&](QSqlQuery &q) {
        if (!q.prepare(QStringLiteral("UPDATE Setlists SET position = ? WHERE id = ?")))
            return false;
        for (qsizetype i = 0; i < ids.size(); ++i) {
            q.addBindValue(qint64(i));
            q.addBindValue(ids[i]);
            if (!q.exec())
                return false;
        }
        return true;
    });
}
