// SPDX-License-Identifier: MIT
#include "stagerunsvcontroller.h"

#include "stagerunsplitview.h"
#include "stagerunviewcontroller.h"

StageRunSVController::StageRunSVController(StagerunSplitView *splitView)
    : QObject(splitView), m_splitView(splitView)
{
    splitView->setSvController(this);
    splitView->setChildrenCollapsible(false);
    for (int i = 0; i < splitView->count(); ++i)
        splitView->setCollapsible(i, false);
}

int StageRunSVController::itemCount() const
{
    return m_splitView->count();
}

StagerunViewController *StageRunSVController::paneController(int item) const
{
    if (item < 0 || item >= m_splitView->count())
        return nullptr;
    return qobject_cast<StagerunViewController *>(m_splitView->widget(item));
}

bool StageRunSVController::isItemCollapsed(int item) const
{
    QWidget *pane = m_splitView->widget(item);
    return pane && pane->isHidden();
}

void StageRunSVController::setItemCollapsed(int item, bool collapsed)
{
    if (QWidget *pane = m_splitView->widget(item))
        pane->setHidden(collapsed);
}
