// SPDX-License-Identifier: MIT
#include "scriptfixture.h"

#include "remotescriptinstaller.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace scriptfixture {

QByteArray shippedContent(const QString &name, const QString &tag)
{
    return QStringLiteral("# %1 %2\n").arg(name, tag).toUtf8();
}

void writeShippedFiles(const QString &folder, const QString &tag)
{
    QDir().mkpath(folder);
    for (const QString &name : RemoteScriptInstaller::remoteScriptFiles())
        writeFile(folder + QLatin1Char('/') + name, shippedContent(name, tag));
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(content) == content.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

bool isLink(const QString &path)
{
    return QFileInfo(path).isSymLink();
}

bool makeLink(const QString &target, const QString &link)
{
    return QFile::link(target, link);
}

} // namespace scriptfixture
