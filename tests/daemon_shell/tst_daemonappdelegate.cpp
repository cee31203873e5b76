// SPDX-License-Identifier: MIT
#include "daemonappdelegate.h"
#include "listenport.h"
#include "log.h"
#include "portmenuitemview.h"
#include "shellfakes.h"
#include "statuscolors.h"
#include "statusrowaction.h"
#include "temphome.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QtTest>

namespace {

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
        QCOMPARE(shell.delegate.connectionRow().statusColor(), statuscolors::orange);
        shell.delegate.portView().field()->setText(QStringLiteral("9000"));
        QTest::mouseClick(shell.delegate.portView().applyButton(), Qt::LeftButton);
        QCOMPARE(shell.applied, QList<quint16>{9000});

        QVERIFY(QFile::exists(QStringLiteral(":/images/note.svg"))); // the tray's icon is linked in
        mlog::Capture log; // offscreen there is no tray: said once, nothing else stops
        QVERIFY(!shell.delegate.showInTray());
        QCOMPARE(log.messages(), QStringList{"iOS Bridge: no system tray on this desktop; "
                                             "running without the status menu"});
    }

    void connectionRow_data()
    {
        QTest::addColumn<QList<ConnectionState>>("events");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QColor>("color");
        using C = ConnectionState;
        using namespace statuscolors;
        QTest::newRow("connected") << QList{C::connected()} << "Connected to Live" << green;
        QTest::newRow("waiting") << QList{C::waiting()} << "Waiting for Live" << orange;
        QTest::newRow("failed") << QList{C::failed("Connection refused")}
                                << "Connection failed: Connection refused" << red;
        // "Waiting For Live" at start is not the waiting text.
        QTest::newRow("disconnected at start")
            << QList{C::disconnected()} << "Disconnected" << grey;
        QTest::newRow("disconnected while waiting")
            << QList{C::waiting(), C::disconnected()} << "Waiting for Live" << orange;
        QTest::newRow("disconnected after connected")
            << QList{C::connected(), C::disconnected()} << "Disconnected" << grey;
    }
    void connectionRow()
    {
        QFETCH(QList<ConnectionState>, events);
        Shell shell;
        for (const ConnectionState &event : events)
            shell.delegate.updateConnectionStatus(event);
        QCOMPARE(shell.delegate.menu().actions().last(), &shell.delegate.connectionRow());
        QTEST(shell.delegate.connectionRow().statusText(), "text");
        QTEST(shell.delegate.connectionRow().statusColor(), "color");
        QCOMPARE(shell.delegate.discoveryRow().statusText(), QStringLiteral("Discovery Inactive"));
    }

    void publisherRows_data()
    {
        QTest::addColumn<QVariant>("storedPort"); // invalid: nothing stored
        QTest::addColumn<QList<PublisherState>>("events");
        QTest::addColumn<QString>("discovery");
        QTest::addColumn<QColor>("discoveryColor");
        QTest::addColumn<QString>("portLine");
        QTest::addColumn<QColor>("portColor"); // invalid: the secondary label colour
        using P = PublisherState;
        using namespace statuscolors;
        const QString active = QStringLiteral("Discovery Active");
        QTest::newRow("published on the default")
            << QVariant() << QList{P::published(51515)} << active << green << "Listening on 51515"
            << QColor();
        QTest::newRow("fell back to another port")
            << QVariant(0) << QList{P::published(49152)} << active << green
            << "Port 51515 in use \u2014 listening on 49152" << systemOrange;
        QTest::newRow("listening without discovery")
            << QVariant() << QList{P::published(51515, "Not advertised")} << "Not advertised"
            << orange << "Listening on 51515" << QColor();
        QTest::newRow("port unavailable")
            << QVariant() << QList{P::portUnavailable(51515, "Address in use")}
            << "Port 51515 unavailable" << red << "Port 51515 in use \u2014 Address in use"
            << systemRed;
        QTest::newRow("unpublished keeps the port line")
            << QVariant() << QList{P::published(51515), P::unpublished()} << "Discovery Inactive"
            << orange << "Listening on 51515" << QColor();
    }
    void publisherRows()
    {
        QFETCH(QVariant, storedPort);
        QFETCH(QList<PublisherState>, events);
        QFETCH(QColor, portColor);
        Shell shell(storedPort);
        for (const PublisherState &event : events)
            shell.delegate.updatePublisherStatus(event);
        DaemonAppDelegate &d = shell.delegate;
        QTEST(d.discoveryRow().statusText(), "discovery");
        QTEST(d.discoveryRow().statusColor(), "discoveryColor");
        QTEST(d.portView().statusLabel()->text(), "portLine");
        QCOMPARE(d.portView().statusColor(),
                 portColor.isValid() ? portColor
                                     : statuscolors::secondaryLabel(d.portView().palette()));
        QCOMPARE(d.connectionRow().statusText(), QStringLiteral("Waiting For Live"));
        QCOMPARE(d.menu().actions().last(), &d.connectionRow()); // the connection row stays last
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
