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
#include <QSettings>
#include <QtTest>

#include <algorithm>
#include <functional>

using State = std::function<void(DaemonAppDelegate &)>;
Q_DECLARE_METATYPE(State)

namespace {

State live(ConnectionState s)
{
    return [s](DaemonAppDelegate &d) {
        d.updateConnectionStatus(s);
    };
}
State phone(PublisherState s)
{
    return [s](DaemonAppDelegate &d) {
        d.updatePublisherStatus(s);
    };
}

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
    Shell() : delegate(settings, thru, loginItem, prompts, [this](quint16 p) { applied << p; }) {}
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
        QCOMPARE(shell.delegate.discoveryRow().statusColor(), statuscolors::orange);
        QCOMPARE(shell.delegate.connectionRow().statusColor(), statuscolors::orange);
        QCOMPARE(shell.delegate.portView().field()->text(), QStringLiteral("51515"));
        shell.delegate.portView().field()->setText(QStringLiteral("9000"));
        shell.delegate.portView().apply();
        QCOMPARE(shell.applied, QList<quint16>{9000});

        mlog::Capture log; // offscreen there is no tray: said once, nothing else stops
        QVERIFY(!shell.delegate.showInTray());
        QCOMPARE(log.messages(), QStringList{"iOS Bridge: no system tray on this desktop; "
                                             "running without the status menu"});
    }

    void statusRows_data()
    {
        QTest::addColumn<QVariant>("storedPort");
        QTest::addColumn<QList<State>>("events");
        QTest::addColumn<QString>("connection");
        QTest::addColumn<QColor>("connectionColor");
        QTest::addColumn<QString>("discovery");
        QTest::addColumn<QColor>("discoveryColor");
        QTest::addColumn<QString>("portLine");
        QTest::addColumn<QColor>("portColor"); // invalid: the secondary label colour

        using C = ConnectionState;
        using P = PublisherState;
        const QVariant none;
        const QString waiting = QStringLiteral("Waiting For Live");
        const QString inactive = QStringLiteral("Discovery Inactive");
        const QColor secondary;
        using namespace statuscolors;
        QTest::newRow("connected")
            << none << QList<State>{live(C::connected())} << "Connected to Live" << green
            << inactive << orange << "" << secondary;
        QTest::newRow("waiting") << none << QList<State>{live(C::waiting())} << "Waiting for Live"
                                 << orange << inactive << orange << "" << secondary;
        QTest::newRow("failed") << none << QList<State>{live(C::failed("Connection refused"))}
                                << "Connection failed: Connection refused" << red << inactive
                                << orange << "" << secondary;
        // "Waiting For Live" at start is not the waiting text.
        QTest::newRow("disconnected at start")
            << none << QList<State>{live(C::disconnected())} << "Disconnected" << grey << inactive
            << orange << "" << secondary;
        QTest::newRow("disconnected while waiting")
            << none << QList<State>{live(C::waiting()), live(C::disconnected())}
            << "Waiting for Live" << orange << inactive << orange << "" << secondary;
        QTest::newRow("disconnected after connected")
            << none << QList<State>{live(C::connected()), live(C::disconnected())} << "Disconnected"
            << grey << inactive << orange << "" << secondary;
        QTest::newRow("published on the default")
            << none << QList<State>{phone(P::published(51515))} << waiting << orange
            << "Discovery Active" << green << "Listening on 51515" << secondary;
        QTest::newRow("published on the stored port")
            << QVariant(9000) << QList<State>{phone(P::published(9000))} << waiting << orange
            << "Discovery Active" << green << "Listening on 9000" << secondary;
        QTest::newRow("fell back to another port")
            << QVariant(0) << QList<State>{phone(P::published(49152))} << waiting << orange
            << "Discovery Active" << green << "Port 51515 in use \u2014 listening on 49152"
            << systemOrange;
        QTest::newRow("listening without discovery")
            << none << QList<State>{phone(P::published(51515, "Not advertised"))} << waiting
            << orange << "Not advertised" << orange << "Listening on 51515" << secondary;
        QTest::newRow("port unavailable")
            << none << QList<State>{phone(P::portUnavailable(51515, "Address in use"))} << waiting
            << orange << "Port 51515 unavailable" << red
            << "Port 51515 in use \u2014 Address in use" << systemRed;
        QTest::newRow("unpublished keeps the port line")
            << none << QList<State>{phone(P::published(51515)), phone(P::unpublished())} << waiting
            << orange << inactive << orange << "Listening on 51515" << secondary;
    }
    void statusRows()
    {
        QFETCH(QVariant, storedPort);
        QFETCH(QList<State>, events);
        Shell shell;
        if (storedPort.isValid())
            shell.settings.setValue(listenport::settingKey, storedPort);
        for (const State &event : events)
            event(shell.delegate);
        DaemonAppDelegate &d = shell.delegate;
        QTEST(d.connectionRow().statusText(), "connection");
        QTEST(d.connectionRow().statusColor(), "connectionColor");
        QTEST(d.discoveryRow().statusText(), "discovery");
        QTEST(d.discoveryRow().statusColor(), "discoveryColor");
        QTEST(d.portView().statusLabel()->text(), "portLine");
        QFETCH(QColor, portColor);
        QCOMPARE(d.portView().statusColor(),
                 portColor.isValid() ? portColor
                                     : statuscolors::secondaryLabel(d.portView().palette()));
        QCOMPARE(d.menu().actions().last(), &d.connectionRow());
    }

    // Every order of a mix of both kinds of event.
    void connectionRowStaysLast()
    {
        const QList<State> events{
            live(ConnectionState::connected()), phone(PublisherState::published(51515)),
            live(ConnectionState::disconnected()), phone(PublisherState::unpublished())};
        QList<int> order{0, 1, 2, 3};
        do {
            Shell shell;
            for (int i : order) {
                events[i](shell.delegate);
                QCOMPARE(rows(shell.delegate.menu()).size(), 7);
                QCOMPARE(shell.delegate.menu().actions().last(), &shell.delegate.connectionRow());
            }
        } while (std::next_permutation(order.begin(), order.end()));
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
        emit thru.aboutToShow();
        QCOMPARE(thru.actions().at(0)->isChecked(), true);
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
