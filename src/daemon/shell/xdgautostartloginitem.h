// SPDX-License-Identifier: MIT
#pragma once

#include "loginitem.h"

// Start at login through a desktop entry in the XDG autostart folder, which desktop
// sessions run at login. On when the entry exists, is not switched off and starts
// this very executable (a moved or rebuilt copy is off until enabled again).
class XdgAutostartLoginItem final : public LoginItem
{
public:
    // configHome: $XDG_CONFIG_HOME, or ~/.config when that is unset.
    XdgAutostartLoginItem(QString configHome, QString executablePath)
        : m_configHome(std::move(configHome)), m_executablePath(std::move(executablePath))
    {}

    static inline const QString entryName =
        QStringLiteral("com.orvanta-audio.MarquellDaemon.desktop");

    bool isEnabled() override;
    std::optional<LoginItemError> enable() override;
    void disable() override;
    // No earlier release installed anything here.
    void migrateLegacyAgent() override {}

    QString entryPath() const;
    // The program an Exec value starts, with the entry's quoting undone.
    static QString execProgram(const QString &execValue);
    static QString execValue(const QString &program);

private:
    QString m_configHome;
    QString m_executablePath;
};
