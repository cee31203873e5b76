// SPDX-License-Identifier: MIT
#include "setlistpanel.h"

#include "livelinkcodec.h"
#include "setlistexchange.h"
#include "setlistprint.h"
#include "showwindow.h"
#include "songmanager.h"
#include "songposition.h"

#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QListView>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>

SetlistPanel::SetlistPanel(const Services &services, QWidget *parent)
    : QDialog(parent, Qt::Tool), m_services(services)
{
    setObjectName(QStringLiteral("setlistPanel"));
    setWindowTitle(tr("Setlists"));
    // The show window's look, with smaller type: this is a between-songs panel.
    setStyleSheet(
        showWindowStyleSheet() +
        QStringLiteral(
            "QDialog#setlistPanel { background: #000000; }"
            "QListView, QListWidget { background: #111114; border: 1px solid #2c2c2e;"
            "  border-radius: 10px; font-size: 20px; font-weight: 600; outline: 0;"
            "  selection-background-color: #0a84ff; selection-color: white; }"
            "QListView::item, QListWidget::item { padding: 6px 10px; }"
            "QPushButton { padding: 8px 12px; font-size: 15px; }"
            "QLabel#openSetLabel, QLabel#summaryLabel { color: #8e8e93; font-size: 14px; }"
            "QLabel#messageLabel { font-size: 14px; }"
            "QLabel#messageLabel[error=\"true\"] { color: #ff453a; }"));

    m_openSetLabel = new QLabel(this);
    m_openSetLabel->setObjectName(QStringLiteral("openSetLabel"));
    m_list = new QListView(this);
    m_list->setObjectName(QStringLiteral("setlistLibraryList"));
    m_list->setModel(&m_services.library);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_songList = new QListWidget(this);
    m_songList->setObjectName(QStringLiteral("setlistSongList"));
    m_songList->setSelectionMode(QAbstractItemView::NoSelection);
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("summaryLabel"));
    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("messageLabel"));
    m_message->setWordWrap(true);

    const auto button = [this](const QString &key, const QString &text, auto slot) {
        auto *b = new QPushButton(text, this);
        b->setObjectName(key);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, slot);
        m_buttons.insert(key, b);
        return b;
    };
    auto *up =
        button(QStringLiteral("upButton"), QStringLiteral("▲"), [this] { moveSelected(-1); });
    auto *down =
        button(QStringLiteral("downButton"), QStringLiteral("▼"), [this] { moveSelected(1); });
    auto *rows = new QGridLayout;
    int column = 0;
    for (const auto &[key, text, slot] :
         std::initializer_list<std::tuple<QString, QString, void (SetlistPanel::*)()>>{
             {QStringLiteral("saveButton"), tr("Save current…"), &SetlistPanel::saveCurrent},
             {QStringLiteral("loadButton"), tr("Load into Live"), &SetlistPanel::loadSelected},
             {QStringLiteral("renameButton"), tr("Rename…"), &SetlistPanel::renameSelected},
             {QStringLiteral("duplicateButton"), tr("Duplicate"), &SetlistPanel::duplicateSelected},
             {QStringLiteral("deleteButton"), tr("Delete"), &SetlistPanel::deleteSelected},
             {QStringLiteral("undoButton"), tr("Undo delete"), &SetlistPanel::undoDelete},
             {QStringLiteral("importButton"), tr("Import file…"), &SetlistPanel::importFile},
             {QStringLiteral("pasteButton"), tr("Paste"), &SetlistPanel::importClipboard},
             {QStringLiteral("exportButton"), tr("Export…"), &SetlistPanel::exportSelected},
             {QStringLiteral("printButton"), tr("Print / PDF…"), &SetlistPanel::printSelected},
         }) {
        rows->addWidget(button(key, text, slot), column / 5, column % 5);
        ++column;
    }
    m_buttons.value(QStringLiteral("loadButton"))->setObjectName(QStringLiteral("addButton"));

    auto *left = new QVBoxLayout;
    left->addWidget(m_list, 1);
    auto *order = new QHBoxLayout;
    order->addWidget(up);
    order->addWidget(down);
    order->addStretch();
    left->addLayout(order);
    auto *right = new QVBoxLayout;
    right->addWidget(m_songList, 1);
    right->addWidget(m_summary);
    auto *lists = new QHBoxLayout;
    lists->addLayout(left, 2);
    lists->addLayout(right, 3);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_openSetLabel);
    layout->addLayout(lists, 1);
    layout->addLayout(rows);
    layout->addWidget(m_message);
    resize(860, 560);

    connect(m_list->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] {
        refreshSongs();
        refreshButtons();
    });
    connect(&m_services.library, &QAbstractItemModel::modelReset, this, [this] {
        refreshSongs();
        refreshButtons();
    });
    connect(&m_services.library, &SetlistLibrary::failed, this,
            [this](const QString &text) { showMessage(text, true); });
    connect(&m_services.songs, &SongManager::songPoolDidUpdate, this, [this] {
        refreshOpenSet();
        refreshSongs();
    });
    refreshOpenSet();
    selectRow(0);
    refreshButtons();
}

int SetlistPanel::currentRow() const
{
    return m_list->currentIndex().isValid() ? m_list->currentIndex().row() : -1;
}

void SetlistPanel::selectRow(int row)
{
    if (row >= 0 && row < m_services.library.rowCount())
        m_list->setCurrentIndex(m_services.library.index(row));
    refreshSongs();
    refreshButtons();
}

QString SetlistPanel::message() const
{
    return m_message->text();
}

void SetlistPanel::showMessage(const QString &text, bool error)
{
    m_message->setText(text);
    m_message->setProperty("error", error);
    m_message->style()->unpolish(m_message);
    m_message->style()->polish(m_message);
}

bool SetlistPanel::stopAfterOf(quint64 songId) const
{
    return m_services.position &&
           (m_services.position->marksOf(songId) & livelink::SetlistMarks::StopAfter);
}

void SetlistPanel::refreshOpenSet()
{
    const QList<Song> &pool = m_services.songs.songPoolData();
    // Without a connection the pool is empty: the last set stays the open one.
    if (!pool.isEmpty()) {
        const int row = currentRow();
        const qint64 id = row >= 0 ? m_services.library.at(row).id : 0;
        m_services.library.setOpenSet(OpenSetIdentity::fromPool(pool));
        for (int i = 0; i < m_services.library.rowCount(); ++i) {
            if (m_services.library.at(i).id == id)
                m_list->setCurrentIndex(m_services.library.index(i));
        }
    }
    const QString label = m_services.library.openSet().label;
    m_openSetLabel->setText(label.isEmpty() ? tr("No set open in Live")
                                            : tr("Open set: %1").arg(label));
}

void SetlistPanel::refreshSongs()
{
    m_songList->clear();
    m_summary->clear();
    const int row = currentRow();
    if (row < 0)
        return;
    const SavedSetlist &s = m_services.library.at(row);
    const QList<Song> &pool = m_services.songs.songPoolData();
    const SetlistMatch match = SetlistMatch::match(s.entries, pool);
    // A list imported as plain text has no lengths: the open set's fill them in.
    QList<SetlistEntry> shown = s.entries;
    for (qsizetype i = 0; i < shown.size(); ++i) {
        if (shown[i].length.isEmpty() && match.found[i])
            shown[i].length = match.found[i]->length;
    }
    for (qsizetype i = 0; i < shown.size(); ++i) {
        const SetlistEntry &e = shown[i];
        QString text = QStringLiteral("%1  %2").arg(i + 1).arg(e.name);
        if (!e.length.isEmpty())
            text += QStringLiteral("   %1").arg(e.length);
        if (e.stopAfter)
            text += QStringLiteral("   ■ STOP");
        auto *item = new QListWidgetItem(text, m_songList);
        if (!pool.isEmpty() && !match.found[i]) {
            item->setForeground(QColor(0x63, 0x63, 0x66));
            item->setToolTip(tr("Not in the open set: kept here, not sent to Live"));
        } else if (e.stopAfter) {
            item->setForeground(QColor(0xff, 0x45, 0x3a));
        }
    }
    const QString total =
        tr("%1 songs, %2").arg(shown.size()).arg(setlistprint::totalLength(shown));
    m_summary->setText(pool.isEmpty()
                           ? total
                           : total + QStringLiteral(" · ") +
                                 (match.missing ? match.missingSummary() : tr("all in this set")));
}

void SetlistPanel::refreshButtons()
{
    const bool selected = currentRow() >= 0;
    for (const QString &key : {QStringLiteral("loadButton"), QStringLiteral("renameButton"),
                               QStringLiteral("duplicateButton"), QStringLiteral("deleteButton"),
                               QStringLiteral("exportButton"), QStringLiteral("printButton"),
                               QStringLiteral("upButton"), QStringLiteral("downButton")})
        m_buttons.value(key)->setEnabled(selected);
    m_buttons.value(QStringLiteral("undoButton"))->setEnabled(m_services.library.canUndoRemove());
}

void SetlistPanel::saveCurrent()
{
    bool ok = false;
    const QString name = QInputDialog::getText(this, tr("Save setlist"), tr("Name:"),
                                               QLineEdit::Normal, QString(), &ok);
    if (!ok)
        return;
    const int row = m_services.library.saveCurrent(name, m_services.songs.setListData(),
                                                   [this](quint64 id) { return stopAfterOf(id); });
    if (row >= 0) {
        selectRow(row);
        showMessage(tr("Saved \"%1\".").arg(m_services.library.at(row).name));
    }
}

void SetlistPanel::loadSelected()
{
    const int row = currentRow();
    if (row < 0)
        return;
    const SavedSetlist s = m_services.library.at(row);
    const SetlistLibrary::Show show{m_services.songs.songPoolData(), m_services.songs.setListData(),
                                    m_services.songs.selectedSetlistIndex(),
                                    m_services.isPlaying && m_services.isPlaying()};
    const SetlistLibrary::LoadPlan plan = m_services.library.planLoad(row, show);
    if (!plan.possible) {
        showMessage(plan.summary, true);
        return;
    }
    // Nothing is dropped without the performer seeing it first.
    if (!plan.summary.isEmpty() || !plan.question.isEmpty()) {
        QStringList lines;
        if (!plan.summary.isEmpty())
            lines << plan.summary + tr(": they stay in the saved setlist and are not sent.");
        if (!plan.question.isEmpty())
            lines << plan.question;
        QMessageBox box(QMessageBox::Question, tr("Load \"%1\"").arg(s.name),
                        lines.join(QStringLiteral("\n\n")), QMessageBox::Cancel, this);
        box.addButton(tr("Load"), QMessageBox::AcceptRole);
        if (box.exec() == QMessageBox::Cancel)
            return;
    }
    m_services.library.load(plan, s.entries, m_services.sender,
                            [this](quint64 id) { return stopAfterOf(id); });
    showMessage(tr("Sent \"%1\" to Live (%2 songs).").arg(s.name).arg(plan.songs.size()));
}

void SetlistPanel::renameSelected()
{
    const int row = currentRow();
    if (row < 0)
        return;
    bool ok = false;
    const QString name =
        QInputDialog::getText(this, tr("Rename setlist"), tr("Name:"), QLineEdit::Normal,
                              m_services.library.at(row).name, &ok);
    if (ok && m_services.library.rename(row, name) >= 0)
        showMessage(tr("Renamed to \"%1\".").arg(m_services.library.at(row).name));
}

void SetlistPanel::duplicateSelected()
{
    const int row = m_services.library.duplicate(currentRow());
    if (row >= 0) {
        selectRow(row);
        showMessage(tr("Made \"%1\".").arg(m_services.library.at(row).name));
    }
}

void SetlistPanel::deleteSelected()
{
    const int row = currentRow();
    if (row < 0)
        return;
    const QString name = m_services.library.at(row).name;
    if (m_services.library.remove(row)) {
        selectRow(std::min(row, m_services.library.rowCount() - 1));
        showMessage(tr("Deleted \"%1\". Undo delete brings it back.").arg(name));
    }
}

void SetlistPanel::undoDelete()
{
    const int row = m_services.library.undoRemove();
    if (row >= 0) {
        selectRow(row);
        showMessage(tr("\"%1\" is back.").arg(m_services.library.at(row).name));
    }
}

void SetlistPanel::moveSelected(int delta)
{
    const int row = m_services.library.move(currentRow(), delta);
    if (row >= 0)
        selectRow(row);
}

void SetlistPanel::importBytes(const QByteArray &bytes, const QString &fallbackName,
                               const QString &from)
{
    const setlistexchange::ImportResult result = setlistexchange::parse(bytes, fallbackName);
    if (!result.setlist) {
        showMessage(tr("Nothing imported from %1. %2").arg(from, result.error), true);
        return;
    }
    const int row = m_services.library.addImported(*result.setlist);
    if (row >= 0) {
        selectRow(row);
        showMessage(tr("Imported \"%1\" (%2 songs).")
                        .arg(m_services.library.at(row).name)
                        .arg(m_services.library.at(row).entries.size()));
    }
}

void SetlistPanel::importFile()
{
    const QString path = QFileDialog::getOpenFileName(this, tr("Import setlist"), QString(),
                                                      tr("Setlists (*.txt *.json);;All files (*)"));
    if (path.isEmpty())
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        showMessage(tr("Cannot read %1: %2").arg(path, file.errorString()), true);
        return;
    }
    // One byte over the limit is enough to refuse the file.
    const QByteArray bytes = file.read(setlistexchange::kMaxBytes + 1);
    importBytes(bytes, QFileInfo(path).completeBaseName(), QFileInfo(path).fileName());
}

void SetlistPanel::importClipboard()
{
    const QString text = QGuiApplication::clipboard()->text();
    importBytes(text.toUtf8(), tr("Pasted setlist"), tr("the clipboard"));
}

void SetlistPanel::exportSelected()
{
    const int row = currentRow();
    if (row < 0)
        return;
    const SavedSetlist &s = m_services.library.at(row);
    QString filter;
    const QString path = QFileDialog::getSaveFileName(
        this, tr("Export setlist"), s.name + QStringLiteral(".json"),
        tr("JSON, with ids and marks (*.json);;Plain text, names only (*.txt)"), &filter);
    if (path.isEmpty())
        return;
    const bool text = path.endsWith(QStringLiteral(".txt"), Qt::CaseInsensitive);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(text ? setlistexchange::toText(s) : setlistexchange::toJson(s)) < 0 ||
        !file.commit()) {
        showMessage(tr("Cannot write %1: %2").arg(path, file.errorString()), true);
        return;
    }
    showMessage(tr("Exported \"%1\" to %2.").arg(s.name, QFileInfo(path).fileName()));
}

void SetlistPanel::printSelected()
{
    const int row = currentRow();
    if (row < 0)
        return;
    const SavedSetlist &s = m_services.library.at(row);
    const QString path = QFileDialog::getSaveFileName(
        this, tr("Print / PDF"), s.name + QStringLiteral(".pdf"), tr("PDF (*.pdf)"));
    if (path.isEmpty())
        return;
    setlistprint::Options options{setlistprint::defaultPageSize(), QDate::currentDate(), {}};
    const QList<Song> &pool = m_services.songs.songPoolData();
    if (!pool.isEmpty()) {
        const SetlistMatch match = SetlistMatch::match(s.entries, pool);
        for (const std::optional<Song> &found : match.found)
            options.missing.append(!found);
    }
    QString error;
    if (!setlistprint::writePdf(s, path, options, &error))
        showMessage(tr("No PDF: %1").arg(error), true);
    else
        showMessage(tr("Wrote %1.").arg(QFileInfo(path).fileName()));
}
