// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>

class StagerunSplitView;
class StagerunViewController;

// Arranges the two panes of the split: item 0 the setlist, item 1 the song pool.
// Panes cannot be collapsed by dragging the divider, only from code.
class StageRunSVController final : public QObject
{
    Q_OBJECT

public:
    explicit StageRunSVController(StagerunSplitView *splitView);

    StagerunSplitView *splitView() const { return m_splitView; }
    int itemCount() const;
    // The pane controller of an item, or null when there is no such item or it is
    // not a pane controller.
    StagerunViewController *paneController(int item) const;

    bool isItemCollapsed(int item) const;
    void setItemCollapsed(int item, bool collapsed);

private:
    StagerunSplitView *m_splitView;
};
