// SPDX-License-Identifier: MIT
#include "temphome.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <QtTest>

TempHome::TempHome()
    : m_oldHome(qgetenv("HOME")), m_oldConfig(qgetenv("XDG_CONFIG_HOME")),
      m_oldRuntime(qgetenv("XDG_RUNTIME_DIR"))
{
    QVERIFY(m_dir.isValid());
    QStandardPaths::setTestModeEnabled(true);
    qputenv("HOME", m_dir.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (m_dir.path() + QStringLiteral("/.config")).toUtf8());
    const QString runtime = m_dir.path() + QStringLiteral("/run");
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());
}

TempHome::~TempHome()
{
    qputenv("HOME", m_oldHome);
    qputenv("XDG_CONFIG_HOME", m_oldConfig);
    qputenv("XDG_RUNTIME_DIR", m_oldRuntime);
}

void TempHome::writeServerJson(const QByteArray &content) const
{
    const QString folder = m_dir.path() + QStringLiteral("/Library/Application Support/Marquell");
    QDir().mkpath(folder);
    QSaveFile file(folder + QStringLiteral("/server.json"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    QVERIFY(file.commit());
}

void TempHome::removeServerJson() const
{
    QFile::remove(m_dir.path() +
                  QStringLiteral("/Library/Application Support/Marquell/server.json"));
}
