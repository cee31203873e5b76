// SPDX-License-Identifier: MIT
#include "xdgautostartloginitem.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

QString XdgAutostartLoginItem::entryPath() const
{
    return m_configHome + QStringLiteral("/autostart/") + entryName;
}

// Desktop entries quote twice: the Exec argument in double quotes with \ before
// " ` $ \, then the whole value as a string whose own backslashes are doubled.
QString XdgAutostartLoginItem::execValue(const QString &program)
{
    QString quoted = QStringLiteral("\"");
    for (const QChar c : program) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c == u'%' ? QStringLiteral("%%") : QString(c);
    }
    quoted += u'"';
    return quoted.replace(QStringLiteral("\\"), QStringLiteral("\\\\"));
}

QString XdgAutostartLoginItem::execProgram(const QString &execValue)
{
    QString value = execValue.trimmed();
    value.replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
    QString program;
    if (!value.startsWith(u'"'))
        program = value.section(u' ', 0, 0);
    else {
        for (qsizetype i = 1; i < value.size() && value[i] != u'"'; ++i) {
            if (value[i] == u'\\' && i + 1 < value.size())
                ++i;
            program += value[i];
        }
    }
    return program.replace(QStringLiteral("%%"), QStringLiteral("%"));
}

bool XdgAutostartLoginItem::isEnabled()
{
    QFile file(entryPath());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    bool startsThis = false;
    bool switchedOff = false;
    bool inEntry = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(u'['))
            inEntry = line == QStringLiteral("[Desktop Entry]");
        if (!inEntry)
            continue;
        const QString key = line.section(u'=', 0, 0).trimmed();
        const QString value = line.section(u'=', 1).trimmed();
        if (key == QStringLiteral("Exec"))
            startsThis = execProgram(value) == m_executablePath;
        else if ((key == QStringLiteral("X-GNOME-Autostart-enabled") &&
                  value == QStringLiteral("false")) ||
                 (key == QStringLiteral("Hidden") && value == QStringLiteral("true")))
            switchedOff = true;
    }
    return startsThis && !switchedOff;
}

std::optional<LoginItemError> XdgAutostartLoginItem::enable()
{
    const QString folder = m_configHome + QStringLiteral("/autostart");
    if (!QDir().mkpath(folder))
        return LoginItemError{
            QStringLiteral("The folder ") + folder + QStringLiteral(" could not be created."), {}};
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=iOS Bridge\n"
                                         "Comment=Relays the Marquell show to a phone\n"
                                         "Exec=") +
                          execValue(m_executablePath) +
                          QStringLiteral("\nTerminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n");
    QSaveFile file(entryPath());
    if (!file.open(QIODevice::WriteOnly) || file.write(entry.toUtf8()) < 0 || !file.commit())
        return LoginItemError{QStringLiteral("The file ") + entryPath() +
                                  QStringLiteral(" could not be written: ") + file.errorString(),
                              {}};
    return std::nullopt;
}

void XdgAutostartLoginItem::disable()
{
    QFile::remove(entryPath());
}
