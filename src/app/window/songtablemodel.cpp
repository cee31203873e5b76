// SPDX-License-Identifier: MIT
#include "songtablemodel.h"

#include "songmanager.h"

#include <QCoreApplication>
#include <QMimeData>

const QString SongTableModel::setlistRowMimeType =
    QStringLiteral("application/x-marquell-setlist-row");

SongTableModel::SongTableModel(SongManager &songManager, Kind kind, QObject *parent)
    : QAbstractTableModel(parent), m_songManager(songManager), m_kind(kind)
{}

QString SongTableModel::cellIdentifier() const
{
    return m_kind == Kind::Setlist ? QStringLiteral("SetListCell") : QStringLiteral("SongPoolCell");
}

const QList<Song> &SongTableModel::songs() const
{
    return m_kind == Kind::Setlist ? m_songManager.setListData() : m_songManager.filteredPoolData();
}

void SongTableModel::reload()
{
    beginResetModel();
    endResetModel();
}

void SongTableModel::marksChanged()
{
    if (rowCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {MarksRole});
}

int SongTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(songs().size());
}

int SongTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 1;
}

QVariant SongTableModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Song &song = songs().at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return song.name;
    case Qt::ToolTipRole:
        return song.length.isEmpty()
                   ? song.name
                   : song.name + QStringLiteral(" (") + song.length + QLatin1Char(')');
    case Qt::AccessibleTextRole:
        return song.name;
    case LengthRole:
        return song.length;
    case MarksRole:
        return m_kind == Kind::Setlist && m_marks ? uint(m_marks(song.id)) : 0u;
    default:
        return {};
    }
}

QVariant SongTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section != 0)
        return {};
    return m_kind == Kind::Setlist ? QStringLiteral("Setlist") : QStringLiteral("Song Pool");
}

Qt::ItemFlags SongTableModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return m_kind == Kind::Setlist ? Qt::ItemIsDropEnabled : Qt::NoItemFlags;
    // Rows are not drop targets themselves: drops land between rows, on the drop line.
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled |
           Qt::ItemNeverHasChildren;
}

QStringList SongTableModel::mimeTypes() const
{
    return {QStringLiteral("text/plain"), setlistRowMimeType};
}

QMimeData *SongTableModel::mimeData(const QModelIndexList &indexes) const
{
    if (indexes.isEmpty() || !indexes.first().isValid() || indexes.first().row() >= songs().size())
        return nullptr;
    const int row = indexes.first().row();
    auto *data = new QMimeData;
    data->setText(songs().at(row).name);
    if (m_kind == Kind::Setlist) {
        // The process id keeps a drag from another running copy from being read as ours.
        const QByteArray payload =
            QByteArray::number(QCoreApplication::applicationPid()) + ' ' + QByteArray::number(row);
        data->setData(setlistRowMimeType, payload);
    }
    return data;
}

std::optional<int> SongTableModel::draggedSetlistRow(const QMimeData &data)
{
    if (!data.hasFormat(setlistRowMimeType))
        return std::nullopt;
    const QList<QByteArray> parts = data.data(setlistRowMimeType).split(' ');
    if (parts.size() != 2)
        return std::nullopt;
    bool pidOk = false;
    bool rowOk = false;
    const qint64 pid = parts[0].toLongLong(&pidOk);
    const int row = parts[1].toInt(&rowOk);
    if (!pidOk || !rowOk || pid != QCoreApplication::applicationPid() || row < 0)
        return std::nullopt;
    return row;
}

Qt::DropActions SongTableModel::supportedDragActions() const
{
    return m_kind == Kind::Setlist ? Qt::MoveAction : Qt::CopyAction;
}

Qt::DropActions SongTableModel::supportedDropActions() const
{
    return m_kind == Kind::Setlist ? (Qt::MoveAction | Qt::CopyAction) : Qt::IgnoreAction;
}

bool SongTableModel::canDropMimeData(const QMimeData *data, Qt::DropAction, int, int,
                                     const QModelIndex &) const
{
    return m_kind == Kind::Setlist && data && data->hasText();
}

bool SongTableModel::dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                                  const QModelIndex &parent)
{
    if (!canDropMimeData(data, action, row, column, parent) || !m_dropHandler)
        return false;
    // Row -1 with a valid parent is a drop onto that row: the line above it.
    // Row -1 with no parent is a drop below the last row.
    int dropRow = row;
    if (dropRow < 0)
        dropRow = parent.isValid() ? parent.row() : rowCount();
    return m_dropHandler(*data, dropRow);
}
