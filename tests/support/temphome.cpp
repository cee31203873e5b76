// SPDX-License-Identifier: MIT
#include "temphome.h"

#include <QDir>
#include <QSaveFile>
#include <QStandardPaths>
#include <QtTest>

namespace {
const char *const kVariables[] = {"HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"};
}

TempHome::TempHome()
{
    QVERIFY(m_dir.isValid());
    QStandardPaths::setTestModeEnabled(true);
    const QString runtime = m_dir.path() + QStringLiteral("/run");
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString values[] = {m_dir.path(), m_dir.path() + QStringLiteral("/.config"), runtime};
    for (int i = 0; i < 3; ++i) {
        m_old[i] = qgetenv(kVariables[i]);
        qputenv(kVariables[i], values[i].toUtf8());
    }
}

TempHome::~TempHome()
{
    for (int i = 0; i < 3; ++i)
        qputenv(kVariables[i], m_old[i]);
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
