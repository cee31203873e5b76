// SPDX-License-Identifier: MIT
#pragma once

class QCoreApplication;
class QString;

namespace commandline {

// The programs take no options of their own: this answers --help and --version
// (printing and exiting with 0) and ends the program with status 1 and a message on
// an unknown option, before any service starts. Call after the application's name
// and version are set.
void processStandardOptions(const QCoreApplication &app, const QString &description);

} // namespace commandline
