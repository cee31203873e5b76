// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// The application's user settings (QSettings, organisation domain orvanta-audio.com).
namespace settingskeys {

// Bool, absent = false: start the iOS Bridge daemon at launch. Written by the show window.
inline const QString autoDaemonConnectEnabled = QStringLiteral("AutoDaemonConnectEnabled");
// Text, a folder path: the User Library the user chose when the default was missing.
inline const QString abletonUserLibraryPath = QStringLiteral("abletonUserLibraryPath");

} // namespace settingskeys
