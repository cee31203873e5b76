// SPDX-License-Identifier: MIT
#include "daemonappdelegate.h"

#include "daemonprompts.h"
#include "listenport.h"
#include "log.h"
#include "loginitem.h"
#include "portmenuitemview.h"
#include "statuscolors.h"
#include "statusrowaction.h"
#include "thrucontrol.h"

#include <QCoreApplication>
#include <QCursor>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QWidgetAction>

namespace {

const QString waitingForLive = QStringLiteral("Waiting for Live");

// A port row's status line: where the listener is, and why not the wanted port.
void showPortStatus(PortMenuItemView &view, const PublisherState &state, quint16 wantedPort)
{
    const QString wanted = QString::number(wantedPort);
    const QString port = QString::number(state.port);
    switch (state.kind) {
    case PublisherState::Kind::Published:
        if (port == wanted)
            view.setStatus(QStringLiteral("Listening on ") + port,
                           statuscolors::secondaryLabel(view.palette()));
        else
            view.setStatus(QStringLiteral("Port ") + wanted +
                               QStringLiteral(" in use \u2014 listening on ") + port,
                           statuscolors::systemOrange);
        break;
    case PublisherState::Kind::PortUnavailable:
        view.setStatus(QStringLiteral("Port ") + port + QStringLiteral(" in use \u2014 ") +
                           state.reason,
                       statuscolors::systemRed);
        break;
    case PublisherState::Kind::Unpublished:
        break;
    }
}

} // namespace

// The icon lives in this static library; Q_INIT_RESOURCE must stay outside namespaces.
static void initResources()
{
    Q_INIT_RESOURCE(shell);
}

DaemonAppDelegate::DaemonAppDelegate(QSettings &settings, ThruControl &thru, LoginItem &loginItem,
                                     DaemonPrompts &prompts, std::function<void(quint16)> applyPort,
                                     QObject *parent)
    : QObject(parent), m_settings(settings), m_thru(thru), m_loginItem(loginItem),
      m_prompts(prompts), m_menu(QStringLiteral("Marquell Network")),
      m_thruMenu(QStringLiteral("MIDI Thru"))
{
    initResources();
    connect(&m_menu, &QMenu::aboutToShow, this, &DaemonAppDelegate::refreshStatusMenu);
    connect(&m_thruMenu, &QMenu::aboutToShow, this, &DaemonAppDelegate::rebuildThruMenu);

    m_startupAction = m_menu.addAction(QStringLiteral("Enable On Startup"));
    m_startupAction->setCheckable(true);
    connect(m_startupAction, &QAction::triggered, this, &DaemonAppDelegate::toggleStartup);

    QAction *quit = m_menu.addAction(QStringLiteral("Quit iOS Bridge"));
    connect(quit, &QAction::triggered, QCoreApplication::instance(), &QCoreApplication::quit,
            Qt::QueuedConnection);

    m_portView = new PortMenuItemView(settings);
    m_portView->setOnApply(std::move(applyPort));
    m_portAction = new QWidgetAction(this);
    m_portAction->setDefaultWidget(m_portView);
    m_menu.addAction(m_portAction);

    m_menu.addMenu(&m_thruMenu);
    m_menu.addSeparator();

    m_publisherRow =
        new StatusRowAction(QStringLiteral("Discovery Inactive"), statuscolors::orange, this);
    m_menu.addAction(m_publisherRow);
    // Capital F on purpose: it is not the waiting text, so an early disconnection
    // still shows "Disconnected".
    m_connectionRow =
        new StatusRowAction(QStringLiteral("Waiting For Live"), statuscolors::orange, this);
    m_menu.addAction(m_connectionRow);
}

DaemonAppDelegate::~DaemonAppDelegate() = default;

bool DaemonAppDelegate::showInTray()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        mlog::out(QStringLiteral(
            "iOS Bridge: no system tray on this desktop; running without the status menu"));
        return false;
    }
    m_tray = std::make_unique<QSystemTrayIcon>(QIcon(QStringLiteral(":/images/note.svg")));
    m_tray->setToolTip(QStringLiteral("iOS Bridge"));
    m_tray->setContextMenu(&m_menu);
    // Trays that keep the context menu for the right button open it on a left click too.
    connect(m_tray.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger && !m_menu.isVisible())
                    m_menu.popup(QCursor::pos());
            });
    m_tray->show();
    return true;
}

void DaemonAppDelegate::updateConnectionStatus(const ConnectionState &state)
{
    switch (state.kind) {
    case ConnectionState::Kind::Connected:
        m_connectionRow->setStatus(QStringLiteral("Connected to Live"), statuscolors::green);
        break;
    case ConnectionState::Kind::Waiting:
        m_connectionRow->setStatus(waitingForLive, statuscolors::orange);
        break;
    case ConnectionState::Kind::Disconnected:
        // Waiting is the better news while the reconnection runs.
        if (m_connectionRow->statusText() != waitingForLive)
            m_connectionRow->setStatus(QStringLiteral("Disconnected"), statuscolors::grey);
        break;
    case ConnectionState::Kind::Failed:
        m_connectionRow->setStatus(QStringLiteral("Connection failed: ") + state.error,
                                   statuscolors::red);
        break;
    }
    moveConnectionRowLast();
}

void DaemonAppDelegate::updatePublisherStatus(const PublisherState &state)
{
    switch (state.kind) {
    case PublisherState::Kind::Published:
        // Listening but not advertised: the phone will not find it by itself.
        if (state.note.isEmpty())
            m_publisherRow->setStatus(QStringLiteral("Discovery Active"), statuscolors::green);
        else
            m_publisherRow->setStatus(state.note, statuscolors::orange);
        break;
    case PublisherState::Kind::PortUnavailable:
        m_publisherRow->setStatus(QStringLiteral("Port ") + QString::number(state.port) +
                                      QStringLiteral(" unavailable"),
                                  statuscolors::red);
        break;
    case PublisherState::Kind::Unpublished:
        m_publisherRow->setStatus(QStringLiteral("Discovery Inactive"), statuscolors::orange);
        break;
    }
    showPortStatus(*m_portView, state, listenport::wanted(m_settings));
    moveConnectionRowLast();
}

void DaemonAppDelegate::addOscPortRow(std::function<quint16()> wantedPort,
                                      std::function<void(quint16)> applyPort)
{
    m_oscWantedPort = wantedPort;
    m_oscPortView = new PortMenuItemView(QStringLiteral("OSC:"), std::move(wantedPort));
    m_oscPortView->setOnApply(std::move(applyPort));
    auto *action = new QWidgetAction(this);
    action->setDefaultWidget(m_oscPortView);
    m_menu.insertAction(m_thruMenu.menuAction(), action);
}

void DaemonAppDelegate::updateOscPortStatus(const PublisherState &state)
{
    if (m_oscPortView)
        showPortStatus(*m_oscPortView, state, m_oscWantedPort());
}

void DaemonAppDelegate::toggleStartup()
{
    if (!m_loginItem.isEnabled()) {
        if (const auto error = m_loginItem.enable())
            m_prompts.showError(error->description, error->recoverySuggestion);
    } else {
        m_loginItem.disable();
    }
    m_startupAction->setChecked(m_loginItem.isEnabled());
}

void DaemonAppDelegate::refreshStatusMenu()
{
    m_startupAction->setChecked(m_loginItem.isEnabled());
}

void DaemonAppDelegate::rebuildThruMenu()
{
    m_thruMenu.clear();
    const QList<ThruControl::Source> sources = m_thru.availableSources();
    if (sources.isEmpty()) {
        m_thruMenu.addAction(QStringLiteral("No MIDI inputs"))->setEnabled(false);
        return;
    }
    const QSet<qint32> selected = m_thru.selectedSourceIDs();
    for (const ThruControl::Source &source : sources) {
        QAction *item = m_thruMenu.addAction(source.name);
        item->setData(source.id); // the tag: toggling goes by unique ID, not by position
        item->setCheckable(true);
        item->setChecked(selected.contains(source.id));
        connect(item, &QAction::triggered, this, [this, id = source.id] { m_thru.toggle(id); });
    }
}

void DaemonAppDelegate::moveConnectionRowLast()
{
    m_menu.removeAction(m_connectionRow);
    m_menu.addAction(m_connectionRow);
}
