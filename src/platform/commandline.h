// SPDX-License-Identifier: MIT
#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QStringList>

class QCoreApplication;
class QString;

namespace commandline {

// For a GUI program, before its QApplication: answers --help and --version, which
// must work where there is no display to connect to. Anything else is left for
// processStandardOptions. Call after the application's name and version are set.
void answerHelpAndVersion(int &argc, char **argv, const QString &description,
                          const QList<QCommandLineOption> &extra = {});

// Answers --help and --version (printing and exiting with 0) and ends the program
// with status 1 and a message on an unknown option, before any service starts.
// extra lists the program's own flags; the names of those given are returned.
// Call after the application's name and version are set.
QStringList processStandardOptions(const QCoreApplication &app, const QString &description,
                                   const QList<QCommandLineOption> &extra = {});

} // namespace commandline
