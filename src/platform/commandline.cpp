// SPDX-License-Identifier: MIT
#include "commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace commandline {

void processStandardOptions(const QCoreApplication &app, const QString &description)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(description);
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(app);
}

} // namespace commandline
