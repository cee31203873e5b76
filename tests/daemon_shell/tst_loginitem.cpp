// SPDX-License-Identifier: MIT
#include "launchagentloginitem.h"
#include "log.h"
#include "shellfakes.h"
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

LaunchAgentLoginItem agent(const TempHome &home, const FakeLaunchctl &launchctl,
                           const QString &bundle = installed)
{
    return LaunchAgentLoginItem({home.path(), bundle,
                                 bundle + QStringLiteral("/Contents/MacOS/MarquellDaemon"), label,
                                 launchctl.path(), 501});
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

} // namespace

class TestLoginItem : public QObject
{
    Q_OBJECT

private slots:
    // Also: a launchctl that cannot start is logged (and is not asked here at all).
    void enableOutsideApplicationsFailsAndWritesNothing()
    {
        TempHome home;
        mlog::Capture log;
        LaunchAgentLoginItem item({home.path(), downloaded, downloaded + QStringLiteral("/x"),
                                   label, home.path() + QStringLiteral("/no-launchctl"), 501});
        const auto error = item.enable();
        QVERIFY(error);
        QCOMPARE(error->description, QStringLiteral("Marquell has to be in your Applications "
                                                    "folder before the iOS Bridge can start at "
                                                    "login."));
        QCOMPARE(error->recoverySuggestion,
                 QStringLiteral("It is currently running from ") + downloaded +
                     QStringLiteral(". Move Marquell to your Applications folder, reopen it, "
                                    "and try again."));
        QVERIFY(!QDir(home.path() + QStringLiteral("/Library")).exists());
        QCOMPARE(log.systemLines(), QStringList());

        writeFile(item.plistPath(label), "x");
        QVERIFY(!item.isEnabled());
        QCOMPARE(log.systemLines().size(), 1);
        QVERIFY(log.systemLines().first().startsWith(
            QStringLiteral("LoginItem: launchctl print gui/501/") + label +
            QStringLiteral(" failed: ")));
    }

    // Also: disable with nothing installed; a present but unloaded agent is rewritten
    // and loaded again.
    void enableWritesTheAgentAndBootstraps()
    {
        TempHome home;
        FakeLaunchctl launchctl;
        auto item = agent(home, launchctl);
        item.disable(); // nothing installed: quietly asks launchctl anyway
        QCOMPARE(launchctl.takeCalls(), QStringList{QStringLiteral("bootout gui/501/") + label});
        const QString plist = item.plistPath(label);
        QCOMPARE(plist, home.path() + QStringLiteral("/Library/LaunchAgents/") + label +
                            QStringLiteral(".plist"));
        writeFile(plist, "stale");
        launchctl.setStatus(113); // not loaded
        QVERIFY(!item.isEnabled());
        QCOMPARE(launchctl.takeCalls(), QStringList{QStringLiteral("print gui/501/") + label});

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
        QCOMPARE(QString::fromUtf8(readFile(plist)), expected);
        QCOMPARE(launchctl.takeCalls(), QStringList{QStringLiteral("bootstrap gui/501 ") + plist});
        launchctl.setStatus(0);
        QVERIFY(item.isEnabled());

        item.disable();
        QVERIFY(!QFile::exists(plist));
        QVERIFY(!item.isEnabled()); // without the file, launchctl is not asked
        QCOMPARE(launchctl.takeCalls(), (QStringList{QStringLiteral("print gui/501/") + label,
                                                     QStringLiteral("bootout gui/501/") + label}));
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
        TempHome home;
        FakeLaunchctl launchctl;
        mlog::Capture log;
        auto item = agent(home, launchctl, bundle);
        item.migrateLegacyAgent(); // nothing to migrate: nothing happens
        QCOMPARE(launchctl.takeCalls(), QStringList());

        const QString legacy = item.plistPath(LaunchAgentLoginItem::legacyLabel);
        writeFile(legacy, "old");
        item.migrateLegacyAgent();
        QVERIFY(!QFile::exists(legacy));
        QCOMPARE(QFile::exists(item.plistPath(label)), migrated);
        QStringList calls{QStringLiteral("bootout gui/501/com.marquell.daemon")};
        if (migrated)
            calls.append(QStringLiteral("bootstrap gui/501 ") + item.plistPath(label));
        QCOMPARE(launchctl.takeCalls(), calls);
        QCOMPARE(log.systemLines(),
                 migrated ? QStringList()
                          : QStringList{QStringLiteral("LoginItem: could not migrate Marquell "
                                                       "has to be in your Applications folder "
                                                       "before the iOS Bridge can start at "
                                                       "login.")});
    }

    // The entry must start this very executable, whatever its path holds.
    void autostartOnAndOff_data()
    {
        QTest::addColumn<QString>("exe");
        QTest::newRow("plain") << QStringLiteral("/opt/marquell/MarquellDaemon");
        QTest::newRow("blanks and quotes")
            << QStringLiteral("/home/ann/my \"show\" $HOME/back\\slash 100%/MarquellDaemon");
    }
    void autostartOnAndOff()
    {
        QFETCH(QString, exe);
        TempHome home;
        XdgAutostartLoginItem item(home.path() + QStringLiteral("/cfg"), exe);
        QVERIFY(!item.isEnabled());
        QVERIFY(!item.enable());
        QCOMPARE(item.entryPath(), home.path() + QStringLiteral("/cfg/autostart/") +
                                       QStringLiteral("com.orvanta-audio.MarquellDaemon.desktop"));
        const QByteArray entry = readFile(item.entryPath());
        QVERIFY(entry.contains("\nX-GNOME-Autostart-enabled=true\n"));
        QVERIFY(item.isEnabled());
        // Another copy of the program does not count as this one starting at login.
        QVERIFY(
            !XdgAutostartLoginItem(home.path() + QStringLiteral("/cfg"), exe + u'2').isEnabled());

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
