// SPDX-License-Identifier: MIT
#include "stagerunmainwindow.h"

#include "stagerunsplitview.h"
#include "stagerunsvcontroller.h"
#include "stagerunviewcontroller.h"

#include <QCloseEvent>
#include <QSettings>

namespace {

const QString geometryKey = QStringLiteral("ShowWindow/geometry");
const QString poolCollapsedKey = QStringLiteral("ShowWindow/songPoolCollapsed");

} // namespace

StageRunMainWindow::StageRunMainWindow(QWidget *parent) : QMainWindow(parent) {}

void StageRunMainWindow::setFrameOrigin(const QPoint &origin)
{
    move(QPoint(x(), origin.y()));
}

static StageRunSVController *svControllerOf(const QMainWindow *window)
{
    auto *split = window->findChild<StagerunSplitView *>();
    return split ? split->svController() : nullptr;
}

StagerunViewController *StageRunMainWindow::setlistPane() const
{
    StageRunSVController *sv = svControllerOf(this);
    return sv ? sv->paneController(0) : nullptr;
}

StagerunViewController *StageRunMainWindow::songPoolPane() const
{
    StageRunSVController *sv = svControllerOf(this);
    return sv ? sv->paneController(1) : nullptr;
}

StagerunViewController *StageRunMainWindow::delegatePane() const
{
    StageRunSVController *sv = svControllerOf(this);
    if (!sv)
        return nullptr;
    for (int i = sv->itemCount() - 1; i >= 0; --i) {
        if (StagerunViewController *pane = sv->paneController(i))
            return pane;
    }
    return nullptr;
}

void StageRunMainWindow::saveWindowState() const
{
    QSettings settings;
    settings.setValue(geometryKey, saveGeometry());
    if (StageRunSVController *sv = svControllerOf(this))
        settings.setValue(poolCollapsedKey, sv->isItemCollapsed(1));
}

void StageRunMainWindow::restoreWindowState()
{
    QSettings settings;
    if (StageRunSVController *sv = svControllerOf(this))
        sv->setItemCollapsed(1, settings.value(poolCollapsedKey, false).toBool());
    const QByteArray geometry = settings.value(geometryKey).toByteArray();
    if (!geometry.isEmpty())
        restoreGeometry(geometry);
}

void StageRunMainWindow::updatePlayButton(bool isPlaying)
{
    StageRunSVController *sv = svControllerOf(this);
    if (!sv)
        return;
    for (int i = 0; i < sv->itemCount(); ++i) {
        if (StagerunViewController *pane = sv->paneController(i))
            pane->setPlayButtonImage(isPlaying);
    }
}

void StageRunMainWindow::closeEvent(QCloseEvent *event)
{
    saveWindowState();
    QMainWindow::closeEvent(event);
}
