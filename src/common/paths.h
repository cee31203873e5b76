// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// Every path under the user's home folder is built from here, so tests can point
// HOME at a temporary folder and never touch the real one.
namespace paths {

QString homeFolder();

// "Library/Application Support/Marquell" under the home folder, on every platform:
// the Remote Script writes its port file there.
QString marquellSupportFolder();

} // namespace paths
