// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// Points HOME (and the settings and runtime folders) at a fresh temporary folder for
// the lifetime of the object, so nothing a test does reaches the real user's files.
class TempHome final
{
public:
    TempHome();
    ~TempHome();
    Q_DISABLE_COPY(TempHome)

    QString path() const { return m_dir.path(); }
    // Writes server.json under this home with the given raw content, where Live would.
    void writeServerJson(const QByteArray &content) const;

private:
    QTemporaryDir m_dir;
    QByteArray m_old[3];
};
