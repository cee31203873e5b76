// SPDX-License-Identifier: MIT
#include "popupwindowcontroller.h"

#include "popupviewcontroller.h"

#include <QEvent>
#include <QScreen>
#include <QSettings>
#include <QVBoxLayout>
#include <QWidget>

static void initTileResources()
{
    Q_INIT_RESOURCE(tiles);
}

namespace {

const QString openKey = QStringLiteral("MidiMapWindow/open");

} // namespace

PopUpWindowController::PopUpWindowController(MIDIManager &manager, QSettings &settings,
                                             QWidget *parent)
    : QObject(parent), m_manager(manager), m_settings(settings), m_parent(parent)
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
    placeBesideParent(*window);
    window->installEventFilter(this);
    m_window = window;
    m_settings.setValue(openKey, true);
    window->show();
}

void PopUpWindowController::restoreWindow()
{
    if (m_settings.value(openKey, false).toBool())
        showWindow();
}

bool PopUpWindowController::eventFilter(QObject *watched, QEvent *event)
{
    // Only the performer's close counts: quitting destroys the window without one.
    if (watched == m_window && event->type() == QEvent::Close)
        m_settings.setValue(openKey, false);
    return QObject::eventFilter(watched, event);
}

void PopUpWindowController::placeBesideParent(QWidget &window) const
{
    if (!m_parent || !m_parent->isVisible())
        return;
    const QRect show = m_parent->frameGeometry();
    const QRect screen = m_parent->screen()->availableGeometry();
    QPoint at(show.right() + 12, show.top());
    at.setX(std::clamp(at.x(), screen.left(),
                       std::max(screen.left(), screen.right() - window.width())));
    window.move(at);
}
