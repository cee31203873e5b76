// SPDX-License-Identifier: MIT
#include "launchagentloginitem.h"
#include "log.h"
#include "temphome.h"
#include "xdgautostartloginitem.h"

#include <QtTest>

namespace {

const QString installed =
    QStringLiteral("/Applications/Marquell.app/Contents/Library/LoginItems/MarquellDaemon.app");
const QString downloaded =
    QStringLiteral("/Users/ann/Downloads/Marquell.app/Contents/Library/LoginItems/"
                   "MarquellDaemon.app");
const QString label = LaunchAgentLoginItem::label;
const QString outside = QStringLiteral(
    "Marquell has to be in your Applications folder before the iOS Bridge can start at login.");

void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
}

// A launch agent in a temporary home, with a launchctl stand-in there that appends its
// arguments as one line to "calls" beside it and exits with the status setStatus() gave.
struct Agent
{
    explicit Agent(const QString &bundle = installed, const QString &tool = {})
        : item({home.path(), bundle, bundle + QStringLiteral("/Contents/MacOS/MarquellDaemon"),
                label, tool.isEmpty() ? home.path() + QStringLiteral("/launchctl") : tool, 501})
    {
        writeFile(home.path() + QStringLiteral("/launchctl"),
                  "#!/bin/sh\necho \"$*\" >>\"$(dirname \"$0\")/calls\"\n"
                  "exit \"${FAKE_LAUNCHCTL_STATUS:-0}\"\n");
        QFile(home.path() + QStringLiteral("/launchctl"))
            .setPermissions(QFile::ReadOwner | QFile::ExeOwner);
        setStatus(0);
    }
    static void setStatus(int status)
    {
        qputenv("FAKE_LAUNCHCTL_STATUS", QByteArray::number(status));
    }
    QStringList takeCalls() const // the lines so far; reading clears them
    {
        QFile file(home.path() + QStringLiteral("/calls"));
        const QString text = file.open(QIODevice::ReadOnly) ? file.readAll() : QString();
        file.remove();
        return text.split(u'\n', Qt::SkipEmptyParts);
    }

    TempHome home;
    mlog::Capture log;
    LaunchAgentLoginItem item;
};

} // namespace

class TestLoginItem : public QObject
{
    Q_OBJECT

private slots:
    // Also: a launchctl that cannot start is logged (and is not asked here at all).
    void enableOutsideApplicationsFailsAndWritesNothing()
    {
        Agent agent(downloaded, QStringLiteral("/nonexistent/launchctl"));
        const auto error = agent.item.enable();
        QVERIFY(error);
        QCOMPARE(error->description, outside);
        QCOMPARE(error->recoverySuggestion,
                 QStringLiteral("It is currently running from ") + downloaded +
                     QStringLiteral(". Move Marquell to your Applications folder, reopen it, "
                                    "and try again."));
        QVERIFY(!QDir(agent.home.path() + QStringLiteral("/Library")).exists());
        QCOMPARE(agent.log.systemLines(), QStringList());

        writeFile(agent.item.plistPath(label), "x");
        QVERIFY(!agent.item.isEnabled());
        QCOMPARE(agent.log.systemLines().size(), 1);
        QVERIFY(agent.log.systemLines().first().startsWith(
            QStringLiteral("LoginItem: launchctl print gui/501/") + label + " failed: "));
    }

    // Also: disable with nothing installed; a present but unloaded agent is rewritten
    // and loaded again.
    void enableWritesTheAgentAndBootstraps()
    {
        Agent agent;
        LaunchAgentLoginItem &item = agent.item;
        item.disable(); // nothing installed: quietly asks launchctl anyway
        QCOMPARE(agent.takeCalls(), QStringList{"bootout gui/501/" + label});
        const QString plist = item.plistPath(label);
        QCOMPARE(plist, agent.home.path() + "/Library/LaunchAgents/" + label + ".plist");
        writeFile(plist, "stale");
        agent.setStatus(113); // not loaded
        QVERIFY(!item.isEnabled());
        QCOMPARE(agent.takeCalls(), QStringList{"print gui/501/" + label});

        QVERIFY(!item.enable());
        const QString exe = installed + QStringLiteral("/Contents/MacOS/MarquellDaemon");
        const QString expected =
            QStringLiteral(
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC "
                "\"-//Apple//DTD PLIST 1.0//EN\" "
                "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                "<plist version=\"1.0\">\n<dict>\n\t<key>AssociatedBundleIdentifiers</key>\n"
                "\t<array>\n\t\t<string>%1</string>\n\t</array>\n\t<key>Label</key>\n"
                "\t<string>%1</string>\n\t<key>Program</key>\n\t<string>%2</string>\n"
                "\t<key>ProgramArguments</key>\n\t<array>\n\t\t<string>%2</string>\n"
                "\t</array>\n\t<key>RunAtLoad</key>\n\t<true/>\n</dict>\n</plist>\n")
                .arg(label, exe);
        QFile written(plist);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(written.readAll()), expected);
        QCOMPARE(agent.takeCalls(), QStringList{"bootstrap gui/501 " + plist});
        agent.setStatus(0);
        QVERIFY(item.isEnabled());

        item.disable();
        QVERIFY(!QFile::exists(plist));
        QVERIFY(!item.isEnabled()); // without the file, launchctl is not asked
        QCOMPARE(agent.takeCalls(),
                 (QStringList{"print gui/501/" + label, "bootout gui/501/" + label}));
    }

    void legacyMigration_data()
    {
        QTest::addColumn<QString>("bundle");
        QTest::addColumn<bool>("migrated");
        QTest::newRow("installed") << installed << true;
        QTest::newRow("outside Applications") << downloaded << false;
    }
    void legacyMigration()
    {
        QFETCH(QString, bundle);
        QFETCH(bool, migrated);
        Agent agent(bundle);
        agent.item.migrateLegacyAgent(); // nothing to migrate: nothing happens
        QCOMPARE(agent.takeCalls(), QStringList());

        const QString legacy = agent.item.plistPath(LaunchAgentLoginItem::legacyLabel);
        writeFile(legacy, "old");
        agent.item.migrateLegacyAgent();
        QVERIFY(!QFile::exists(legacy));
        QCOMPARE(QFile::exists(agent.item.plistPath(label)), migrated);
        QStringList calls{QStringLiteral("bootout gui/501/com.marquell.daemon")};
        if (migrated)
            calls.append("bootstrap gui/501 " + agent.item.plistPath(label));
        QCOMPARE(agent.takeCalls(), calls);
        QCOMPARE(agent.log.systemLines(),
                 migrated ? QStringList() : QStringList{"LoginItem: could not migrate " + outside});
    }

    // The entry must start this very executable, whatever its path holds.
    void autostartOnAndOff_data()
    {
        QTest::addColumn<QString>("exe");
        QTest::addColumn<QByteArray>("exec"); // as the desktop session reads it
        QTest::newRow("plain") << QStringLiteral("/opt/marquell/MarquellDaemon")
                               << QByteArray(R"(Exec="/opt/marquell/MarquellDaemon")");
        QTest::newRow("blanks and quotes")
            << QStringLiteral("/home/ann/my \"show\" $HOME/back\\slash 100%/MarquellDaemon")
            << QByteArray(
                   R"(Exec="/home/ann/my \\"show\\" \\$HOME/back\\\\slash 100%%/MarquellDaemon")");
    }
    void autostartOnAndOff()
    {
        QFETCH(QString, exe);
        QFETCH(QByteArray, exec);
        TempHome home;
        const QString config = home.path() + QStringLiteral("/cfg");
        XdgAutostartLoginItem item(config, exe);
        QVERIFY(!item.isEnabled());
        QVERIFY(!item.enable());
        QCOMPARE(item.entryPath(), config + "/autostart/com.orvanta-audio.MarquellDaemon.desktop");
        QFile file(item.entryPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray entry = file.readAll();
        QVERIFY(entry.contains("\nX-GNOME-Autostart-enabled=true\n"));
        QVERIFY2(entry.contains('\n' + exec + '\n'), entry);
        QVERIFY(item.isEnabled());
        // Another copy of the program does not count as this one starting at login.
        QVERIFY(!XdgAutostartLoginItem(config, exe + u'2').isEnabled());

        writeFile(item.entryPath(), QByteArray(entry).replace("enabled=true", "enabled=false"));
        QVERIFY(!item.isEnabled()); // switched off in the desktop's settings
        QVERIFY(!item.enable());
        QVERIFY(item.isEnabled());
        item.disable();
        QVERIFY(!QFile::exists(item.entryPath()));
        QVERIFY(!item.isEnabled());
    }
};

QTEST_GUILESS_MAIN(TestLoginItem)
#include "tst_loginitem.moc"
