// SPDX-License-Identifier: MIT
#include "launchagentloginitem.h"

#include <QCoreApplication>
#include <QDir>

#include <unistd.h>

std::unique_ptr<LoginItem> createLoginItem()
{
    // The executable sits in X.app/Contents/MacOS/.
    QDir bundle(QCoreApplication::applicationDirPath());
    bundle.cd(QStringLiteral("../.."));
    LaunchAgentLoginItem::Environment env;
    env.home = QDir::homePath();
    env.bundlePath = bundle.absolutePath();
    env.executablePath = QCoreApplication::applicationFilePath();
    env.bundleIdentifier = LaunchAgentLoginItem::label; // the daemon bundle's identifier
    env.uid = ::getuid();
    return std::make_unique<LaunchAgentLoginItem>(std::move(env));
}
