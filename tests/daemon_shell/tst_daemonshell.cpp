// SPDX-License-Identifier: MIT
// The daemon's shell: its status menu, the port entry and the login items.
#include "daemonappdelegate.h"
#include "daemonprompts.h"
#include "launchagentloginitem.h"
#include "listenport.h"
#include "log.h"
#include "loginitem.h"
#include "portmenuitemview.h"
#include "statuscolors.h"
#include "statusrowaction.h"
#include "temphome.h"
#include "thrucontrol.h"
#include "xdgautostartloginitem.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QtTest>

namespace {

struct FakeLoginItem final : LoginItem
{
    bool isEnabled() override { return enabled; }
    std::optional<LoginItemError> enable() override
    {
        enabled = !failure;
        return failure;
    }
    void disable() override { enabled = false; }
    void migrateLegacyAgent() override {}
    bool enabled = false;
    std::optional<LoginItemError> failure;
};

struct RecordingPrompts final : DaemonPrompts
{
    void showError(const QString &description, const QString &suggestion) override
    {
        shown.append({description, suggestion});
    }
    QList<QStringList> shown;
};

struct FakeThru final : ThruControl
{
    QList<Source> availableSources() const override { return sources; }
    QSet<qint32> selectedSourceIDs() const override { return selected; }
    void toggle(qint32 id) override
    {
        if (!selected.remove(id))
            selected.insert(id);
    }
    QList<Source> sources;
    QSet<qint32> selected;
};

// The menu as a user reads it, one entry per row.
QStringList rows(QMenu &menu)
{
    QStringList out;
    for (QAction *action : menu.actions()) {
        if (action->isSeparator())
            out.append(QStringLiteral("---"));
        else if (action->menu())
            out.append(action->text() + QStringLiteral(" >"));
        else
            out.append(action->text().isEmpty() ? QStringLiteral("[port]") : action->text());
    }
    return out;
}

template <class... Event> QVariantList events(const Event &...event)
{
    return {QVariant::fromValue(event)...};
}

struct Shell
{
    explicit Shell(const QVariant &storedPort = {})
        : delegate(settings, thru, loginItem, prompts, [this](quint16 p) { applied << p; })
    {
        if (storedPort.isValid())
            settings.setValue(listenport::settingKey, storedPort);
    }
    TempHome home;
    QSettings settings;
    FakeThru thru;
    FakeLoginItem loginItem;
    RecordingPrompts prompts;
    QList<quint16> applied;
    DaemonAppDelegate delegate;
};

const QString installed =
    QStringLiteral("/Applications/Marquell.app/Contents/Library/LoginItems/MarquellDaemon.app");
const QString downloaded = "/Users/ann/Downloads" + installed.sliced(installed.indexOf("/Marq"));
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
// arguments as one line to "calls" beside it and exits with $FAKE_LAUNCHCTL_STATUS.
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
        qputenv("FAKE_LAUNCHCTL_STATUS", "0");
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

class TestDaemonShell : public QObject
{
    Q_OBJECT

private slots:
    void menuAndThruSubmenu()
    {
        Shell shell;
        QCOMPARE(shell.delegate.menu().title(), QStringLiteral("Marquell Network"));
        QCOMPARE(rows(shell.delegate.menu()),
                 (QStringList{"Enable On Startup", "Quit iOS Bridge", "[port]", "MIDI Thru >",
                              "---", "\u25CF Discovery Inactive", "\u25CF Waiting For Live"}));
        shell.delegate.portView().field()->setText(QStringLiteral("9000"));
        QTest::mouseClick(shell.delegate.portView().applyButton(), Qt::LeftButton);
        QCOMPARE(shell.applied, QList<quint16>{9000});

        QVERIFY(QFile::exists(QStringLiteral(":/images/note.svg"))); // the tray's icon is linked in
        QVERIFY(!shell.delegate.showInTray()); // offscreen there is no tray; nothing else stops

        QMenu &thru = shell.delegate.thruMenu();
        emit thru.aboutToShow();
        QCOMPARE(rows(thru), QStringList{"No MIDI inputs"});
        QVERIFY(!thru.actions().first()->isEnabled());

        shell.thru.sources = {{-7, QStringLiteral("Pedal")}, {42, QStringLiteral("Keys")}};
        shell.thru.selected = {42};
        emit thru.aboutToShow();
        QCOMPARE(rows(thru), (QStringList{"Pedal", "Keys"})); // rebuilt, not appended
        QCOMPARE(thru.actions().at(0)->data().toInt(), -7);
        QCOMPARE(thru.actions().at(0)->isChecked(), false);
        QCOMPARE(thru.actions().at(1)->isChecked(), true);
        thru.actions().at(0)->trigger();
        QCOMPARE(shell.thru.selected, (QSet<qint32>{-7, 42}));
    }

    // The status rows and the port line after the Live link's and the listener's reports:
    // each report leaves the other rows alone, and the connection row stays last.
    void statusRows_data()
    {
        QTest::addColumn<QVariant>("storedPort");  // invalid: nothing stored
        QTest::addColumn<QVariantList>("events");  // ConnectionState or PublisherState
        QTest::addColumn<QStringList>("texts");    // discovery, connection, port line
        QTest::addColumn<QList<QColor>>("colors"); // the same; invalid: the secondary label
        using C = ConnectionState;
        using P = PublisherState;
        using namespace statuscolors;
        const auto row = [](const char *name, const QVariantList &events, const QStringList &texts,
                            const QList<QColor> &colors, const QVariant &stored = {}) {
            QTest::newRow(name) << stored << events << texts << colors;
        };
        const QString inactive = "Discovery Inactive", active = "Discovery Active",
                      atStart = "Waiting For Live", listening = "Listening on 51515";
        row("nothing reported", {}, {inactive, atStart, ""}, {orange, orange, {}});
        row("connected", events(C::connected()), {inactive, "Connected to Live", ""},
            {orange, green, {}});
        row("failed", events(C::failed("Connection refused")),
            {inactive, "Connection failed: Connection refused", ""}, {orange, red, {}});
        // "Waiting For Live" at start is not the waiting text.
        row("disconnected at start", events(C::disconnected()), {inactive, "Disconnected", ""},
            {orange, grey, {}});
        row("disconnected while waiting", events(C::waiting(), C::disconnected()),
            {inactive, "Waiting for Live", ""}, {orange, orange, {}});
        row("published on the default", events(P::published(51515)), {active, atStart, listening},
            {green, orange, {}});
        row("fell back to another port", events(P::published(49152)),
            {active, atStart, "Port 51515 in use \u2014 listening on 49152"},
            {green, orange, systemOrange}, 0);
        row("listening without discovery", events(P::published(51515, "Not advertised")),
            {"Not advertised", atStart, listening}, {orange, orange, {}});
        row("port unavailable", events(P::portUnavailable(51515, "Address in use")),
            {"Port 51515 unavailable", atStart, "Port 51515 in use \u2014 Address in use"},
            {red, orange, systemRed});
        row("unpublished keeps the port line", events(P::published(51515), P::unpublished()),
            {inactive, atStart, listening}, {orange, orange, {}});
    }
    void statusRows()
    {
        QFETCH(QVariant, storedPort);
        QFETCH(QVariantList, events);
        QFETCH(QList<QColor>, colors);
        Shell shell(storedPort);
        DaemonAppDelegate &d = shell.delegate;
        for (const QVariant &event : events) {
            if (event.metaType() == QMetaType::fromType<ConnectionState>())
                d.updateConnectionStatus(event.value<ConnectionState>());
            else
                d.updatePublisherStatus(event.value<PublisherState>());
        }
        QTEST((QStringList{d.discoveryRow().statusText(), d.connectionRow().statusText(),
                           d.portView().statusLabel()->text()}),
              "texts");
        for (QColor &color : colors)
            color = color.isValid() ? color : statuscolors::secondaryLabel(d.portView().palette());
        QCOMPARE((QList<QColor>{d.discoveryRow().statusColor(), d.connectionRow().statusColor(),
                                d.portView().statusColor()}),
                 colors);
        QCOMPARE(d.menu().actions().last(), &d.connectionRow());
    }

    void portEntries_data()
    {
        QTest::addColumn<QVariant>("stored"); // invalid: nothing stored
        QTest::addColumn<QString>("entry");
        QTest::addColumn<int>("accepted"); // -1: refused
        QTest::addColumn<QString>("fieldAfter");
        QTest::newRow("1023") << QVariant() << "1023" << -1 << "51515";
        QTest::newRow("1024") << QVariant() << "1024" << 1024 << "1024";
        QTest::newRow("65535") << QVariant() << "65535" << 65535 << "65535";
        QTest::newRow("65536") << QVariant() << "65536" << -1 << "51515";
        QTest::newRow("blanks around") << QVariant() << " 9000\t" << 9000 << " 9000\t";
        QTest::newRow("plus sign") << QVariant() << "+9000" << 9000 << "+9000";
        QTest::newRow("empty") << QVariant() << "" << -1 << "51515";
        QTest::newRow("letters") << QVariant() << "port" << -1 << "51515";
        QTest::newRow("line end is not a blank") << QVariant() << "9000\n" << -1 << "51515";
        QTest::newRow("too long to fit") << QVariant() << "99999999999999999999" << -1 << "51515";
        QTest::newRow("2^32 + 9000") << QVariant() << "4294976296" << -1 << "51515";
        QTest::newRow("stored port comes back") << QVariant(9100) << "80" << -1 << "9100";
    }
    void portEntries()
    {
        QFETCH(QVariant, stored);
        QFETCH(QString, entry);
        QFETCH(int, accepted);
        Shell shell(stored);
        PortMenuItemView &view = shell.delegate.portView();
        view.setStatus(QStringLiteral("Listening on 51515"), statuscolors::grey);
        view.field()->setText(entry);
        QTest::keyClick(view.field(), Qt::Key_Return);
        // An accepted entry stays as typed; the listener's report changes the line.
        const bool refused = accepted < 0;
        QCOMPARE(shell.applied, refused ? QList<quint16>() : QList{quint16(accepted)});
        QTEST(view.field()->text(), "fieldAfter");
        QCOMPARE(view.statusLabel()->text(),
                 refused ? "Enter a port between 1024 and 65535" : "Listening on 51515");
        QCOMPARE(view.statusLabel()->palette().color(QPalette::WindowText),
                 refused ? statuscolors::systemRed : statuscolors::grey);
    }

    void enableOnStartup_data()
    {
        QTest::addColumn<bool>("enabledBefore");
        QTest::addColumn<bool>("enableFails");
        QTest::addColumn<bool>("checked");
        QTest::newRow("turn on") << false << false << true;
        QTest::newRow("turn on fails") << false << true << false;
        QTest::newRow("turn off") << true << false << false;
    }
    void enableOnStartup()
    {
        QFETCH(bool, enabledBefore);
        QFETCH(bool, enableFails);
        Shell shell;
        shell.loginItem.enabled = enabledBefore;
        if (enableFails)
            shell.loginItem.failure = LoginItemError{"Not here.", "Move it."};
        QAction *item = shell.delegate.startupAction();
        emit shell.delegate.menu().aboutToShow(); // opening the menu shows the state
        QCOMPARE(item->isChecked(), enabledBefore);
        item->trigger();
        QTEST(item->isChecked(), "checked");
        QCOMPARE(shell.loginItem.enabled, item->isChecked()); // as the login item now is
        const QList<QStringList> shown{{"Not here.", "Move it."}};
        QCOMPARE(shell.prompts.shown, enableFails ? shown : QList<QStringList>());
    }

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
        qputenv("FAKE_LAUNCHCTL_STATUS", "113"); // not loaded
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
        qputenv("FAKE_LAUNCHCTL_STATUS", "0");
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

    // The entry must start this very executable, whatever its path holds; the desktop's
    // startup settings switch it off in either of two ways.
    void autostartOnAndOff_data()
    {
        QTest::addColumn<QString>("exe");
        QTest::addColumn<QByteArray>("exec");     // as the desktop session reads it
        QTest::addColumn<QByteArray>("offLines"); // in place of "...-enabled=true"
        const QByteArray gnomeOff("X-GNOME-Autostart-enabled=false");
        const QString plain = QStringLiteral("/opt/marquell/MarquellDaemon");
        const QByteArray plainExec(R"(Exec="/opt/marquell/MarquellDaemon")");
        QTest::newRow("plain") << plain << plainExec << gnomeOff;
        QTest::newRow("blanks and quotes")
            << QStringLiteral("/home/ann/my \"show\" $HOME/back\\slash 100%/MarquellDaemon")
            << QByteArray(
                   R"(Exec="/home/ann/my \\"show\\" \\$HOME/back\\\\slash 100%%/MarquellDaemon")")
            << gnomeOff;
        QTest::newRow("hidden") << plain << plainExec
                                << QByteArray("X-GNOME-Autostart-enabled=true\nHidden=true");
    }
    void autostartOnAndOff()
    {
        QFETCH(QString, exe);
        QFETCH(QByteArray, exec);
        QFETCH(QByteArray, offLines);
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

        writeFile(item.entryPath(),
                  QByteArray(entry).replace("X-GNOME-Autostart-enabled=true", offLines));
        QVERIFY(!item.isEnabled()); // switched off in the desktop's settings
        QVERIFY(!item.enable());
        QVERIFY(item.isEnabled());
        item.disable();
        QVERIFY(!QFile::exists(item.entryPath()));
        QVERIFY(!item.isEnabled());
    }
};

QTEST_MAIN(TestDaemonShell)
#include "tst_daemonshell.moc"
