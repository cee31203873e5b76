// SPDX-License-Identifier: MIT
#include "stageruntableview.h"

#include "songtablemodel.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QSignalBlocker>

StageRunTableView::StageRunTableView(QWidget *parent) : QTableView(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    verticalHeader()->hide();
    horizontalHeader()->setSectionsMovable(false);
    horizontalHeader()->setStretchLastSection(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Tab moves on to the next control, never along the rows behind Live's back.
    setTabKeyNavigation(false);
}

int StageRunTableView::numberOfRows() const
{
    return model() ? model()->rowCount() : 0;
}

void StageRunTableView::setModel(QAbstractItemModel *newModel)
{
    QTableView::setModel(newModel);
    m_selectedRow = -1;
    if (selectionModel()) {
        connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
                &StageRunTableView::syncSelectedRow);
    }
}

void StageRunTableView::selectRow(int row)
{
    if (row < 0 || row >= numberOfRows())
        return;
    const QModelIndex index = model()->index(row, 0);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                 QItemSelectionModel::Rows);
    scrollTo(index);
}

void StageRunTableView::deselectAll()
{
    if (selectionModel())
        selectionModel()->clear();
    if (m_selectedRow != -1) {
        m_selectedRow = -1;
        emit selectionDidChange();
    }
}

void StageRunTableView::reloadData()
{
    auto *songs = qobject_cast<SongTableModel *>(model());
    if (!songs)
        return;
    m_reloading = true;
    songs->reload();
    // The reset drops the view's selection; put the same row back without it counting
    // as a change.
    if (m_selectedRow >= 0 && m_selectedRow < numberOfRows()) {
        const QSignalBlocker blocker(selectionModel());
        selectionModel()->setCurrentIndex(model()->index(m_selectedRow, 0),
                                          QItemSelectionModel::ClearAndSelect |
                                              QItemSelectionModel::Rows);
    }
    m_reloading = false;
    viewport()->update();
}

void StageRunTableView::syncSelectedRow()
{
    if (m_reloading)
        return;
    const QModelIndexList rows = selectionModel()->selectedRows();
    const int row = rows.isEmpty() ? -1 : rows.first().row();
    if (row == m_selectedRow)
        return;
    m_selectedRow = row;
    emit selectionDidChange();
}

QItemSelectionModel::SelectionFlags StageRunTableView::selectionCommand(const QModelIndex &index,
                                                                        const QEvent *event) const
{
    // Ctrl-click or Ctrl-Space would leave no row highlighted while Live plays one.
    const QItemSelectionModel::SelectionFlags flags = QTableView::selectionCommand(index, event);
    if (flags & (QItemSelectionModel::Deselect | QItemSelectionModel::Toggle))
        return QItemSelectionModel::NoUpdate;
    return flags;
}

QModelIndex StageRunTableView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers)
{
    // Rows are what the performer moves through: Home and End go to the first and last
    // row, not to the ends of the current one.
    if (action == MoveHome || action == MoveEnd)
        modifiers |= Qt::ControlModifier;
    return QTableView::moveCursor(action, modifiers);
}

void StageRunTableView::mousePressEvent(QMouseEvent *event)
{
    // Nothing to select: the click must not start a selection or mark one as the user's.
    // Only the left button selects: a stray two-finger tap must not change the song.
    if (numberOfRows() == 0 || event->button() != Qt::LeftButton) {
        event->accept();
        return;
    }
    emit userMouseDown();
    QTableView::mousePressEvent(event);
}

void StageRunTableView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        QTableView::mouseDoubleClickEvent(event);
    else
        event->accept();
}

void StageRunTableView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        QTableView::mouseReleaseEvent(event);
    else
        event->accept();
}

void StageRunTableView::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & ~Qt::LeftButton))
        QTableView::mouseMoveEvent(event);
    else
        event->accept();
}

void StageRunTableView::keyPressEvent(QKeyEvent *event)
{
    // Every key that moves the row takes the arrows' road, so Live follows
    // (page-turner pedals send Page Up and Page Down).
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
        emit arrowKeyUsed();
        break;
    default:
        break;
    }
    QTableView::keyPressEvent(event);
}

void StageRunTableView::keyboardSearch(const QString &)
{
    // Typing jumps nowhere: a song changes only by click, arrow, page or Live.
}
