// SPDX-License-Identifier: MIT
#include "daemonappdelegate.h"
#include "daemonprompts.h"
#include "listenport.h"
#include "loginitem.h"
#include "portmenuitemview.h"
#include "statuscolors.h"
#include "statusrowaction.h"
#include "temphome.h"
#include "thrucontrol.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QtTest>

namespace {

// A login item whose state the test sets; enable fails when failure is set.
struct FakeLoginItem final : LoginItem
{
    bool isEnabled() override { return enabled; }
    std::optional<LoginItemError> enable() override
    {
        calls << QStringLiteral("enable");
        enabled = !failure;
        return failure;
    }
    void disable() override
    {
        calls << QStringLiteral("disable");
        enabled = false;
    }
    void migrateLegacyAgent() override {}
    bool enabled = false;
    std::optional<LoginItemError> failure;
    QStringList calls;
};

// Answers every alert at once and keeps its two texts.
struct RecordingPrompts final : DaemonPrompts
{
    void showError(const QString &description, const QString &suggestion) override
    {
        shown.append({description, suggestion});
    }
    QList<QStringList> shown;
};

// Toggling flips the selection, as the daemon's MIDI thru does.
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

// Reports of either kind, in order.
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

} // namespace

class TestDaemonAppDelegate : public QObject
{
    Q_OBJECT

private slots:
    void menuAfterStartup()
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

    void thruSubmenu()
    {
        Shell shell;
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

    void enableOnStartup_data()
    {
        QTest::addColumn<bool>("enabledBefore");
        QTest::addColumn<bool>("enableFails");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<bool>("checked");
        QTest::newRow("turn on") << false << false << QStringList{"enable"} << true;
        QTest::newRow("turn on fails") << false << true << QStringList{"enable"} << false;
        QTest::newRow("turn off") << true << false << QStringList{"disable"} << false;
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
        QTEST(shell.loginItem.calls, "calls");
        QTEST(item->isChecked(), "checked");
        const QList<QStringList> shown{{"Not here.", "Move it."}};
        QCOMPARE(shell.prompts.shown, enableFails ? shown : QList<QStringList>());
    }
};

QTEST_MAIN(TestDaemonAppDelegate)
#include "tst_daemonappdelegate.moc"
