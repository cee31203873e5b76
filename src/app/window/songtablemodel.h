// SPDX-License-Identifier: MIT
#pragma once

#include <QAbstractTableModel>

#include <functional>

class QMimeData;
class SongManager;

// One column of song names over the song manager: the setlist or the pool rows the
// search lets through. The manager is the only store; reload() re-reads it.
//
// Both tables are drag sources (plain text = the song's name). Setlist drags also carry
// the source row under a private type, so a move takes exactly the dragged entry. Only
// the setlist accepts drops; what a drop does is up to the drop handler.
class SongTableModel final : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum class Kind
    {
        Setlist,
        SongPool
    };
    // Drop with the row of the drop line: rows before it stay above the dropped song.
    using DropHandler = std::function<bool(const QMimeData &data, int dropRow)>;

    enum Role
    {
        LengthRole = Qt::UserRole + 1, // the song's length text, shown right-aligned
        MarksRole,                     // setlist rows: livelink::SetlistMarks bits
    };
    using MarksLookup = std::function<quint8(quint64 songId)>;

    static const QString setlistRowMimeType;

    SongTableModel(SongManager &songManager, Kind kind, QObject *parent = nullptr);

    Kind kind() const { return m_kind; }
    // The cell identifier of the table this model feeds.
    QString cellIdentifier() const;
    void setDropHandler(DropHandler handler) { m_dropHandler = std::move(handler); }
    void reload();
    // Where setlist rows read their marks; marksChanged() repaints them.
    void setMarksLookup(MarksLookup lookup) { m_marks = std::move(lookup); }
    void marksChanged();

    // Reads the setlist row a drag from this program's setlist carries, if any.
    static std::optional<int> draggedSetlistRow(const QMimeData &data);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    Qt::DropActions supportedDragActions() const override;
    Qt::DropActions supportedDropActions() const override;
    bool canDropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                         const QModelIndex &parent) const override;
    bool dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                      const QModelIndex &parent) override;
    // removeRows keeps the base class's refusal on purpose: after a move drag the view
    // asks the source model to remove the dragged rows, which the drop already moved.

private:
    const QList<struct Song> &songs() const;

    SongManager &m_songManager;
    Kind m_kind;
    DropHandler m_dropHandler;
    MarksLookup m_marks;
};
