// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>

// Small file helpers for the installer tests: a fake shipped folder and raw file I/O.
namespace scriptfixture {

// Writes the six shipped files into folder, each holding "# <name> <tag>".
void writeShippedFiles(const QString &folder, const QString &tag);
QByteArray shippedContent(const QString &name, const QString &tag);

bool writeFile(const QString &path, const QByteArray &content);
QByteArray readFile(const QString &path); // empty when unreadable
bool isLink(const QString &path);
bool makeLink(const QString &target, const QString &link);

} // namespace scriptfixture
