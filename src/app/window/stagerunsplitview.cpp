// SPDX-License-Identifier: MIT
#include "stagerunsplitview.h"

#include <QPainter>
#include <QSplitterHandle>

namespace {

class DividerHandle final : public QSplitterHandle
{
public:
    DividerHandle(Qt::Orientation orientation, StagerunSplitView *parent)
        : QSplitterHandle(orientation, parent), m_view(parent)
    {}

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), m_view->customDividerColor());
    }

private:
    StagerunSplitView *m_view;
};

} // namespace

StagerunSplitView::StagerunSplitView(QWidget *parent) : QSplitter(parent) {}

void StagerunSplitView::setCustomDividerColor(const QColor &color)
{
    m_customDividerColor = color;
    for (int i = 0; i < count(); ++i)
        handle(i)->update();
}

QSplitterHandle *StagerunSplitView::createHandle()
{
    return new DividerHandle(orientation(), this);
}
