// SPDX-License-Identifier: MIT
#include "commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace commandline {

namespace {

void describe(QCommandLineParser &parser, const QString &description,
              const QList<QCommandLineOption> &extra)
{
    parser.setApplicationDescription(description);
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions(extra);
}

} // namespace

void answerHelpAndVersion(int &argc, char **argv, const QString &description,
                          const QList<QCommandLineOption> &extra)
{
    const QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    describe(parser, description, extra);
    // Unknown options (Qt's own GUI ones among them) wait for the full check.
    parser.parse(QCoreApplication::arguments());
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
}

QStringList processStandardOptions(const QCoreApplication &app, const QString &description,
                                   const QList<QCommandLineOption> &extra)
{
    QCommandLineParser parser;
    describe(parser, description, extra);
    parser.process(app);
    QStringList given;
    for (const QCommandLineOption &option : extra) {
        if (parser.isSet(option))
            given.append(option.names().constFirst());
    }
    return given;
}

} // namespace commandline
