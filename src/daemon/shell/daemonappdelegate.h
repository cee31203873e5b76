// SPDX-License-Identifier: MIT
#pragma once

#include "connectionstate.h"
#include "publisherstate.h"

#include <QMenu>
#include <QObject>

#include <functional>
#include <memory>

class DaemonPrompts;
class LoginItem;
class PortMenuItemView;
class QAction;
class QSettings;
class QSystemTrayIcon;
class QWidgetAction;
class StatusRowAction;
class ThruControl;

// The daemon's status menu, "Marquell Network": start at login, quit, the phone
// listener's port, MIDI thru, then the discovery and Live connection rows, the
// connection row always last. Built once; the two rows follow the sockets' reports.
// Works without a system tray (the menu is then simply never shown).
class DaemonAppDelegate final : public QObject
{
    Q_OBJECT

public:
    // applyPort receives each port the user enters (to store it and rebind).
    DaemonAppDelegate(QSettings &settings, ThruControl &thru, LoginItem &loginItem,
                      DaemonPrompts &prompts, std::function<void(quint16)> applyPort,
                      QObject *parent = nullptr);
    ~DaemonAppDelegate() override;

    QMenu &menu() { return m_menu; }
    QMenu &thruMenu() { return m_thruMenu; }
    QAction *startupAction() const { return m_startupAction; }
    PortMenuItemView &portView() const { return *m_portView; }
    StatusRowAction &discoveryRow() const { return *m_publisherRow; }
    StatusRowAction &connectionRow() const { return *m_connectionRow; }

    // The OSC listener's port row, below the phone's: wantedPort gives the stored
    // port, applyPort receives each port the user enters.
    void addOscPortRow(std::function<quint16()> wantedPort, std::function<void(quint16)> applyPort);
    PortMenuItemView *oscPortView() const { return m_oscPortView; }

    // Puts the "note" item in the system tray with this menu. Without a tray it
    // says so once and returns false; everything else keeps running.
    bool showInTray();

public slots:
    void updateConnectionStatus(const ConnectionState &state);
    void updatePublisherStatus(const PublisherState &state);
    void updateOscPortStatus(const PublisherState &state);
    void toggleStartup();

private:
    void refreshStatusMenu();
    void rebuildThruMenu();
    void moveConnectionRowLast();

    QSettings &m_settings;
    ThruControl &m_thru;
    LoginItem &m_loginItem;
    DaemonPrompts &m_prompts;
    QMenu m_menu;
    QMenu m_thruMenu;
    QAction *m_startupAction = nullptr;
    QWidgetAction *m_portAction = nullptr;
    PortMenuItemView *m_portView = nullptr;
    PortMenuItemView *m_oscPortView = nullptr;
    std::function<quint16()> m_oscWantedPort;
    StatusRowAction *m_publisherRow = nullptr;
    StatusRowAction *m_connectionRow = nullptr;
    std::unique_ptr<QSystemTrayIcon> m_tray;
};
