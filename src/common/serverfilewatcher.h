// SPDX-License-Identifier: MIT
#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>

#include <sys/types.h>

// Tells at once when server.json appears or changes, so a waiting program need not
// wait for its next poll. Watches the file and its folder (or, while the folder does
// not exist yet, the nearest folder above it) and re-arms after every event: an
// atomic rename replaces the watched file, and the watch on the old one ends with it.
// Costs nothing while nothing changes. Main thread.
class ServerFileWatcher final : public QObject
{
    Q_OBJECT

public:
    explicit ServerFileWatcher(QString path, QObject *parent = nullptr);

    QString path() const { return m_path; }
    // What the watcher watches now (for tests and diagnostics).
    QStringList watched() const;

signals:
    // The file appeared, was replaced or was written; not sent for its removal.
    void changed();

private:
    struct Signature
    {
        ino_t inode = 0;
        off_t size = -1;
        qint64 modifiedNs = 0;
        friend bool operator==(const Signature &, const Signature &) = default;
    };

    void arm();
    void onEvent();
    Signature signature() const;

    QString m_path;
    QFileSystemWatcher m_watcher;
    Signature m_last;
};
