// SPDX-License-Identifier: MIT
#include "paths.h"

#include <QDir>

namespace paths {

QString homeFolder()
{
    return QDir::homePath();
}

QString marquellSupportFolder()
{
    return homeFolder() + QStringLiteral("/Library/Application Support/Marquell");
}

} // namespace paths
