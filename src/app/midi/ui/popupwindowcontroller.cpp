// SPDX-License-Identifier: MIT
#include "popupwindowcontroller.h"

#include "popupviewcontroller.h"

#include <QVBoxLayout>
#include <QWidget>

static void initTileResources()
{
    Q_INIT_RESOURCE(tiles);
}

PopUpWindowController::PopUpWindowController(MIDIManager &manager, QWidget *parent)
    : QObject(parent), m_manager(manager), m_parent(parent)
{
    initTileResources();
}

void PopUpWindowController::showWindow()
{
    if (m_window && m_window->isVisible()) {
        m_window->raise();
        m_window->activateWindow();
        return;
    }
    if (m_window)
        m_window->deleteLater();

    auto *window = new QWidget(m_parent, Qt::Window);
    window->setObjectName(QStringLiteral("midiMapWindow"));
    window->setWindowTitle(QStringLiteral("MIDI Mappings"));
    window->setAttribute(Qt::WA_DeleteOnClose);
    // Closing the show window still quits while this one is open.
    window->setAttribute(Qt::WA_QuitOnClose, false);
    auto *layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new PopUpViewController(m_manager, window));
    window->setStyleSheet(QStringLiteral("QWidget#midiMapWindow { background: #1c1c1e; }"));
    window->resize(560, 290);
    m_window = window;
    window->show();
}
