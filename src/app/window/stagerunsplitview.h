// SPDX-License-Identifier: MIT
#pragma once

#include <QColor>
#include <QSplitter>

class StageRunSVController;

// The two-pane split of the show window; the divider is painted in one flat colour.
class StagerunSplitView final : public QSplitter
{
    Q_OBJECT
    Q_PROPERTY(QColor customDividerColor READ customDividerColor WRITE setCustomDividerColor)

public:
    explicit StagerunSplitView(QWidget *parent = nullptr);

    QColor customDividerColor() const { return m_customDividerColor; }
    void setCustomDividerColor(const QColor &color);

    // The controller that owns the panes' arrangement; null until one attaches.
    StageRunSVController *svController() const { return m_svController; }
    void setSvController(StageRunSVController *controller) { m_svController = controller; }

protected:
    QSplitterHandle *createHandle() override;

private:
    QColor m_customDividerColor = Qt::black;
    StageRunSVController *m_svController = nullptr;
};
