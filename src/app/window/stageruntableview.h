// SPDX-License-Identifier: MIT
#pragma once

#include <QTableView>

// The setlist and song pool tables. Selection is one row at a time, read and set by
// row number (-1 for none), and survives a reload the way the performer expects:
// a reload keeps the selected row number even when the rows behind it are gone.
class StageRunTableView final : public QTableView
{
    Q_OBJECT

public:
    explicit StageRunTableView(QWidget *parent = nullptr);

    int numberOfRows() const;
    // The selected row, -1 for none; may lie beyond the rows after a reload.
    int selectedRow() const { return m_selectedRow; }
    // Replaces the selection with one row (ignored when out of range).
    void selectRow(int row);
    void deselectAll();
    // Re-reads the model, keeping the selected row number.
    void reloadData();

    void setModel(QAbstractItemModel *model) override;
    // Typing a name selects nothing: it would move the row without Live.
    void keyboardSearch(const QString &search) override;

signals:
    // The selected row changed, whatever the cause.
    void selectionDidChange();
    // A mouse-down on a table with rows: the next selection change is the user's.
    void userMouseDown();
    // Posted before a key that moves the selection (arrows, Page Up/Down, Home, End).
    void arrowKeyUsed();

protected:
    // Only the left button selects; no key or click leaves the table without a row.
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex &index,
                                                         const QEvent *event) const override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void syncSelectedRow();

    int m_selectedRow = -1;
    bool m_reloading = false;
};
