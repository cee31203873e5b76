// SPDX-License-Identifier: MIT
#pragma once

#include "loginitem.h"

#include <QStringList>

// Start at login through a per-user launch agent, loaded into the user's GUI domain
// with launchctl. Everything it touches is injected, so it runs anywhere with a
// temporary home and a stand-in launchctl.
class LaunchAgentLoginItem final : public LoginItem
{
public:
    struct Environment
    {
        QString home;             // the user's home folder
        QString bundlePath;       // the running application bundle (…/X.app)
        QString executablePath;   // the daemon's executable inside it
        QString bundleIdentifier; // empty when the bundle has none
        QString launchctlPath = QStringLiteral("/bin/launchctl");
        uint uid = 0;
    };

    static inline const QString label = QStringLiteral("com.orvanta-audio.MarquellDaemon");
    static inline const QString legacyLabel = QStringLiteral("com.marquell.daemon");

    explicit LaunchAgentLoginItem(Environment environment) : m_env(std::move(environment)) {}

    bool isEnabled() override;
    std::optional<LoginItemError> enable() override;
    void disable() override;
    void migrateLegacyAgent() override;

    QString plistPath(const QString &agentLabel) const;
    // The agent file's content for the given executable.
    QByteArray agentPlist(const QString &executablePath) const;
    // launchctl's exit status, or -1 when it could not be started (logged).
    int runLaunchctl(const QStringList &arguments) const;

private:
    QString userDomain() const;

    Environment m_env;
};
