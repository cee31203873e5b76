// SPDX-License-Identifier: MIT
#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QtGlobal>

#include <optional>

// The application's persistent store: one SQLite file in the app-data folder, named
// after the container "StageRun__Storyboard_", holding the "Preferences" entity and,
// from schema version 1, the setlist library (tables Setlists and SetlistEntries).
// Edits stay pending in memory until save(); a failed save keeps them pending, so a
// later save (or the quit rule) still has them. Main thread only.
class PersistentStore final
{
public:
    PersistentStore();
    ~PersistentStore();
    PersistentStore(const PersistentStore &) = delete;
    PersistentStore &operator=(const PersistentStore &) = delete;

    static QString containerName() { return QStringLiteral("StageRun__Storyboard_"); }
    // The platform's app-data folder (QStandardPaths::AppDataLocation).
    static QString defaultFolder();

    // Creates the folder and the file as needed and checks the schema. False with
    // lastError() when the store cannot be used. Opens once.
    bool open(const QString &folder);
    bool isOpen() const { return m_open; }
    QString filePath() const { return m_filePath; }
    QString lastError() const { return m_lastError; }
    // The open connection, for the setlist library that shares the file.
    QSqlDatabase database() const { return m_db; }
    // PRAGMA user_version: 0 is the file as older builds made it, 1 has the library.
    static constexpr int kSchemaVersion = 1;
    // Why the library's tables could not be made (a read-only file); empty when they exist.
    QString libraryError() const { return m_libraryError; }

    // Preferences.lastPortUniqueID (-1 = no port selected): the pending value when
    // there is one, else the first stored record's; none when there is no record or
    // the store cannot be read.
    std::optional<qint64> lastPortUniqueID();
    void setLastPortUniqueID(qint64 id);

    bool hasChanges() const { return m_pendingLastPortUniqueID.has_value(); }
    // Writes the pending edits into the first Preferences record (inserting one when
    // there is none). On failure the edits stay pending and lastError() says why.
    bool save();

private:
    bool fail(const QString &error);
    void migrate();

    QSqlDatabase m_db;
    QString m_connectionName;
    QString m_filePath;
    QString m_lastError;
    QString m_libraryError;
    bool m_open = false;
    std::optional<qint64> m_pendingLastPortUniqueID;
};
