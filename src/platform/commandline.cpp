// SPDX-License-Identifier: MIT
#include "commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace commandline {

QStringList processStandardOptions(const QCoreApplication &app, const QString &description,
                                   const QList<QCommandLineOption> &extra)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(description);
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions(extra);
    parser.process(app);
    QStringList given;
    for (const QCommandLineOption &option : extra) {
        if (parser.isSet(option))
            given.append(option.names().constFirst());
    }
    return given;
}

} // namespace commandline
