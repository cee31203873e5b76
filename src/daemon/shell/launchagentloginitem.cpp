// SPDX-License-Identifier: MIT
#include "launchagentloginitem.h"

#include "log.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSaveFile>

namespace {

QString xmlText(const QString &text)
{
    return text.toHtmlEscaped();
}

} // namespace

QString LaunchAgentLoginItem::plistPath(const QString &agentLabel) const
{
    return m_env.home + QStringLiteral("/Library/LaunchAgents/") + agentLabel +
           QStringLiteral(".plist");
}

QString LaunchAgentLoginItem::userDomain() const
{
    return QStringLiteral("gui/") + QString::number(m_env.uid);
}

QByteArray LaunchAgentLoginItem::agentPlist(const QString &executablePath) const
{
    const QString associated = m_env.bundleIdentifier.isEmpty() ? label : m_env.bundleIdentifier;
    const QString program = xmlText(executablePath);
    // Keys in sorted order and tab indents, as the system's own XML serializer writes.
    const QString xml = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                       "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                       "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                                       "<plist version=\"1.0\">\n<dict>\n"
                                       "\t<key>AssociatedBundleIdentifiers</key>\n\t<array>\n"
                                       "\t\t<string>%1</string>\n\t</array>\n"
                                       "\t<key>Label</key>\n\t<string>%2</string>\n"
                                       "\t<key>Program</key>\n\t<string>%3</string>\n"
                                       "\t<key>ProgramArguments</key>\n\t<array>\n"
                                       "\t\t<string>%3</string>\n\t</array>\n"
                                       "\t<key>RunAtLoad</key>\n\t<true/>\n"
                                       "</dict>\n</plist>\n")
                            .arg(xmlText(associated), xmlText(label), program);
    return xml.toUtf8();
}

int LaunchAgentLoginItem::runLaunchctl(const QStringList &arguments) const
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(m_env.launchctlPath, arguments);
    if (!process.waitForStarted()) {
        mlog::system(QStringLiteral("LoginItem: launchctl ") + arguments.join(QLatin1Char(' ')) +
                     QStringLiteral(" failed: ") + process.errorString());
        return -1;
    }
    process.waitForFinished(-1);
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

bool LaunchAgentLoginItem::isEnabled()
{
    if (!QFile::exists(plistPath(label)))
        return false;
    return runLaunchctl({QStringLiteral("print"), userDomain() + QLatin1Char('/') + label}) == 0;
}

std::optional<LoginItemError> LaunchAgentLoginItem::enable()
{
    // The agent names the executable by path: only an installed copy stays put.
    if (!m_env.bundlePath.startsWith(QStringLiteral("/Applications/")) ||
        m_env.executablePath.isEmpty()) {
        return LoginItemError{
            QStringLiteral("Marquell has to be in your Applications folder before the iOS "
                           "Bridge can start at login."),
            QStringLiteral("It is currently running from ") + m_env.bundlePath +
                QStringLiteral(". Move Marquell to your Applications folder, reopen it, and "
                               "try again.")};
    }
    const QString folder = m_env.home + QStringLiteral("/Library/LaunchAgents");
    if (!QDir().mkpath(folder))
        return LoginItemError{
            QStringLiteral("The folder ") + folder + QStringLiteral(" could not be created."), {}};
    QSaveFile file(plistPath(label));
    if (!file.open(QIODevice::WriteOnly) || file.write(agentPlist(m_env.executablePath)) < 0 ||
        !file.commit()) {
        return LoginItemError{QStringLiteral("The file ") + plistPath(label) +
                                  QStringLiteral(" could not be written: ") + file.errorString(),
                              {}};
    }
    runLaunchctl({QStringLiteral("bootstrap"), userDomain(), plistPath(label)});
    return std::nullopt;
}

void LaunchAgentLoginItem::disable()
{
    runLaunchctl({QStringLiteral("bootout"), userDomain() + QLatin1Char('/') + label});
    QFile::remove(plistPath(label));
}

void LaunchAgentLoginItem::migrateLegacyAgent()
{
    const QString legacy = plistPath(legacyLabel);
    if (!QFile::exists(legacy))
        return;
    runLaunchctl({QStringLiteral("bootout"), userDomain() + QLatin1Char('/') + legacyLabel});
    QFile::remove(legacy);
    if (const auto error = enable())
        mlog::system(QStringLiteral("LoginItem: could not migrate ") + error->description);
}
