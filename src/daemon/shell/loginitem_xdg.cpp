// SPDX-License-Identifier: MIT
#include "xdgautostartloginitem.h"

#include <QCoreApplication>
#include <QDir>

std::unique_ptr<LoginItem> createLoginItem()
{
    QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!QDir::isAbsolutePath(configHome)) // unset or invalid: the standard's default
        configHome = QDir::homePath() + QStringLiteral("/.config");
    return std::make_unique<XdgAutostartLoginItem>(configHome,
                                                   QCoreApplication::applicationFilePath());
}
