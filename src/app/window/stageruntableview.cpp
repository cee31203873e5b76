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

void StageRunTableView::mousePressEvent(QMouseEvent *event)
{
    // Nothing to select: the click must not start a selection or mark one as the user's.
    if (numberOfRows() == 0) {
        event->accept();
        return;
    }
    emit userMouseDown();
    QTableView::mousePressEvent(event);
}

void StageRunTableView::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down)
        emit arrowKeyUsed();
    QTableView::keyPressEvent(event);
}
