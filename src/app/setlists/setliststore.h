// SPDX-License-Identifier: MIT
#pragma once

#include "savedsetlist.h"

#include <QSqlDatabase>
#include <QString>

#include <optional>

// The setlist library's rows in the application's store (the tables the store's schema
// version 1 adds). Every write is one transaction: when the file cannot be written
// (read-only, disk full) it is rolled back, lastError() says why and what was stored
// before stays as it was. Main thread only.
class SetlistStore final
{
public:
    // unavailable: why the library's tables are missing, as the store reported it.
    explicit SetlistStore(QSqlDatabase db, const QString &unavailable = {});

    bool isAvailable() const { return m_unavailable.isEmpty(); }
    QString lastError() const { return m_lastError; }

    // In the library's order; none (and lastError()) when the store cannot be read.
    std::optional<QList<SavedSetlist>> readAll();
    // Stores a new setlist at position and gives it its id.
    bool insert(SavedSetlist &setlist, int position);
    bool rename(qint64 id, const QString &name);
    bool remove(qint64 id);
    // The library's order: ids in their new order.
    bool writeOrder(const QList<qint64> &ids);

private:
    template <typename Work> bool inTransaction(Work work);
    bool fail(const QString &error);

    QSqlDatabase m_db;
    QString m_unavailable;
    QString m_lastError;
};
