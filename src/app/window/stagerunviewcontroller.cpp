// SPDX-License-Identifier: MIT
#include "stagerunviewcontroller.h"

#include "customheaderview.h"
#include "daemonlauncher.h"
#include "livelinksender.h"
#include "log.h"
#include "showwindowservices.h"
#include "songmanager.h"
#include "songposition.h"
#include "songprogresspanel.h"
#include "songtablemodel.h"
#include "stagerunsplitview.h"
#include "stagerunsvcontroller.h"
#include "stageruntableview.h"
#include "toppaddedtextfieldcell.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGraphicsDropShadowEffect>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSettings>
#include <QTimer>

const QString StagerunViewController::autoConnectKey = QStringLiteral("AutoDaemonConnectEnabled");

StagerunViewController::StagerunViewController(QWidget *parent) : QWidget(parent) {}

StagerunViewController::~StagerunViewController() = default;

StageRunSVController *StagerunViewController::parentSplitViewController() const
{
    auto *split = qobject_cast<StagerunSplitView *>(parentWidget());
    return split ? split->svController() : nullptr;
}

StagerunViewController *StagerunViewController::setlistPaneController() const
{
    StageRunSVController *sv = parentSplitViewController();
    return sv ? sv->paneController(0) : nullptr;
}

void StagerunViewController::findOutlets()
{
    // Outlets are this pane's own descendants only, never the other pane's.
    m_cueModeComboBoxCell = findChild<QComboBox *>(QStringLiteral("cueModeComboBoxCell"));
    m_serverStatusTextField = findChild<QLabel *>(QStringLiteral("serverStatusTextField"));
    m_statusIndicatorButton = findChild<QAbstractButton *>(QStringLiteral("statusIndicatorButton"));
    m_bpmDisplayField = findChild<QLabel *>(QStringLiteral("bpmDisplayField"));
    m_setTimeDisplayField = findChild<QLabel *>(QStringLiteral("setTimeDisplayField"));
    m_setList = findChild<StageRunTableView *>(QStringLiteral("setList"));
    m_songPool = findChild<StageRunTableView *>(QStringLiteral("songPool"));
    m_autoConnectToDaemonStatus =
        findChild<QCheckBox *>(QStringLiteral("autoConnectToDaemonStatus"));
    m_setlistPlayButton = findChild<QAbstractButton *>(QStringLiteral("setlistPlayButton"));
    m_songpoolPlayButton = findChild<QAbstractButton *>(QStringLiteral("songpoolPlayButton"));
    m_iosBridgeButton = findChild<QAbstractButton *>(QStringLiteral("iosBridgeButton"));
}

void StagerunViewController::viewDidLoad(ShowWindowServices &services)
{
    m_services = &services;
    findOutlets();

    if (m_setList)
        setUpSetList();
    else
        mlog::out(QStringLiteral("setlist tableview is nil"));

    if (m_songPool)
        setUpSongPool();
    else
        mlog::out(QStringLiteral("song pool tableview is nil"));

    connectActions();
    // Not playing until Live says otherwise (the window forwards the playing state).
    setPlayButtonImage(false);
    connect(&services.songManager, &SongManager::songPoolDidUpdate, this,
            &StagerunViewController::refreshUI);
    refreshUI();
}

static void installHeader(StageRunTableView *table, bool isSetList)
{
    auto *header = new CustomHeaderView(table);
    header->setIsSetList(isSetList);
    table->setHorizontalHeader(header);
    header->setStretchLastSection(true);
}

void StagerunViewController::setUpSetList()
{
    installHeader(m_setList, true);
    m_setListModel =
        new SongTableModel(m_services->songManager, SongTableModel::Kind::Setlist, this);
    m_setListModel->setDropHandler(
        [this](const QMimeData &data, int dropRow) { return acceptDrop(data, dropRow); });
    m_setList->setModel(m_setListModel);
    m_setList->setItemDelegate(new TopPaddedTextFieldCell(m_setList));
    m_setList->setDragEnabled(true);
    m_setList->setAcceptDrops(true);
    m_setList->viewport()->setAcceptDrops(true);
    m_setList->setDropIndicatorShown(true);
    m_setList->setDragDropOverwriteMode(false);
    m_setList->setDragDropMode(QAbstractItemView::DragDrop);
    m_setList->setDefaultDropAction(Qt::MoveAction);

    connect(m_setList, &StageRunTableView::userMouseDown, this,
            [this] { m_isUserSelectionChange = true; });
    connect(m_setList, &StageRunTableView::arrowKeyUsed, this,
            &StagerunViewController::arrowKeyUsed);
    connect(m_setList, &StageRunTableView::selectionDidChange, this,
            &StagerunViewController::tableViewSelectionDidChange);

    if (m_statusIndicatorButton) {
        const QSize size = m_statusIndicatorButton->size();
        const int side = qMin(size.width(), size.height());
        m_statusIndicatorButton->setFixedSize(side, side);
        setLampColor(lampGrey);
    }
    setUpSongProgress();
    if (m_bpmDisplayField) {
        auto *shadow = new QGraphicsDropShadowEffect(m_bpmDisplayField);
        shadow->setColor(QColor(0, 0, 255));
        shadow->setOffset(1.0, -0.5);
        shadow->setBlurRadius(2.0);
        m_bpmDisplayField->setGraphicsEffect(shadow);
    }
}

void StagerunViewController::setUpSongProgress()
{
    auto *songTime = findChild<QWidget *>(QStringLiteral("songTimeColumn"));
    if (songTime)
        songTime->hide(); // shown with the progress panel, once Live reports a position
    auto *panel = findChild<SongProgressPanel *>(QStringLiteral("songProgressPanel"));
    SongPositionModel *position = m_services->position;
    if (!position)
        return;
    if (panel)
        panel->setUp(*position, m_services->sender,
                     findChild<QLabel *>(QStringLiteral("songTimeDisplayField")), songTime);
    m_setListModel->setMarksLookup([position](quint64 id) { return position->marksOf(id); });
    connect(position, &SongPositionModel::marksChanged, m_setListModel,
            &SongTableModel::marksChanged);

    // "Stop after" from the row's context menu or, for the selected row, a shortcut.
    m_setList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_setList, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        const int row = m_setList->indexAt(at).row();
        if (QMenu *menu = setlistContextMenu(row))
            menu->popup(m_setList->viewport()->mapToGlobal(at));
    });
    auto *toggle = new QAction(tr("Stop After This Song"), m_setList);
    toggle->setObjectName(QStringLiteral("stopAfterAction"));
    toggle->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Period));
    toggle->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    m_setList->addAction(toggle);
    connect(toggle, &QAction::triggered, this,
            [this] { toggleStopAfter(m_setList->selectedRow()); });
}

QMenu *StagerunViewController::setlistContextMenu(int row)
{
    const QList<Song> &setlist = m_services->songManager.setListData();
    SongPositionModel *position = m_services->position;
    if (!position || row < 0 || row >= setlist.size())
        return nullptr;
    auto *menu = new QMenu(m_setList);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QAction *stop = menu->addAction(tr("Stop After This Song"));
    stop->setCheckable(true);
    stop->setChecked(position->marksOf(setlist.at(row).id) & livelink::SetlistMarks::StopAfter);
    // An older Remote Script knows no marks: nothing to toggle.
    stop->setEnabled(position->isKnown());
    connect(stop, &QAction::triggered, this, [this, row] { toggleStopAfter(row); });
    return menu;
}

void StagerunViewController::toggleStopAfter(int row)
{
    const QList<Song> &setlist = m_services->songManager.setListData();
    SongPositionModel *position = m_services->position;
    if (!position || !position->isKnown() || row < 0 || row >= setlist.size()) {
        mlog::out(QStringLiteral("No \"stop after\" mark for setlist row %1: Live reports no "
                                 "marks or there is no such row.")
                      .arg(row));
        return;
    }
    const quint64 id = setlist.at(row).id;
    // Live's answer (a new set of marks) is what the row shows.
    m_services->sender.sendStopAfter(id,
                                     !(position->marksOf(id) & livelink::SetlistMarks::StopAfter));
}

void StagerunViewController::setUpSongPool()
{
    if (m_autoConnectToDaemonStatus)
        m_autoConnectToDaemonStatus->setChecked(QSettings().value(autoConnectKey, false).toBool());
    installHeader(m_songPool, false);
    m_songPoolModel =
        new SongTableModel(m_services->songManager, SongTableModel::Kind::SongPool, this);
    m_songPool->setModel(m_songPoolModel);
    m_songPool->setItemDelegate(new TopPaddedTextFieldCell(m_songPool));
    // The pool only gives: its songs can be dragged into the setlist.
    m_songPool->setDragEnabled(true);
    m_songPool->setDragDropMode(QAbstractItemView::DragOnly);
    m_songPool->setDefaultDropAction(Qt::CopyAction);
    connect(m_songPool, &StageRunTableView::userMouseDown, this,
            [this] { m_isUserSelectionChange = true; });
    m_initMode = true;
    if (m_cueModeComboBoxCell)
        m_cueModeComboBoxCell->setCurrentIndex(0);
    if (m_iosBridgeButton) {
        // The daemon starts and quits on its own (its menu, a signal, a crash): its lock
        // file is the only news, read once a second.
        auto *poll = new QTimer(this);
        poll->setInterval(1000);
        connect(poll, &QTimer::timeout, this, &StagerunViewController::showBridgeState);
        poll->start();
        showBridgeState();
    }
}

void StagerunViewController::connectActions()
{
    const auto button = [this](const char *name) {
        return findChild<QAbstractButton *>(QLatin1String(name));
    };
    const std::pair<const char *, void (StagerunViewController::*)()> actions[] = {
        {"setlistPlayButton", &StagerunViewController::playIsPressed},
        {"stopButton", &StagerunViewController::stopIsPressed},
        {"prevButton", &StagerunViewController::prevIsPressed},
        {"nextButton", &StagerunViewController::nextIsPressed},
        {"songpoolPlayButton", &StagerunViewController::songPoolPlayIsPressed},
        {"addButton", &StagerunViewController::addToSetlistButtonPressed},
        {"removeButton", &StagerunViewController::removeFromSetlistButtonPressed},
        {"iosBridgeButton", &StagerunViewController::openiOSBridge},
        {"midiMapButton", &StagerunViewController::openMidiMapWindowPressed},
        {"panelToggleButton", &StagerunViewController::panelToggler},
    };
    for (const auto &[name, slot] : actions) {
        if (QAbstractButton *b = button(name))
            connect(b, &QAbstractButton::clicked, this, slot);
    }
    if (auto *search = findChild<QLineEdit *>(QStringLiteral("searchField")))
        connect(search, &QLineEdit::textChanged, this,
                &StagerunViewController::searchFieldIsChanged);
    // activated: only a choice made in the box, never a selection from code.
    if (m_cueModeComboBoxCell)
        connect(m_cueModeComboBoxCell, &QComboBox::activated, this,
                &StagerunViewController::cueModeSwitched);
    if (m_autoConnectToDaemonStatus)
        connect(m_autoConnectToDaemonStatus, &QCheckBox::clicked, this,
                &StagerunViewController::autoConnectToDaemonToggle);
}

void StagerunViewController::refreshUI()
{
    if (m_songPool)
        m_songPool->reloadData();
    if (!m_setList)
        return;
    SongManager &songs = m_services->songManager;
    songs.syncSetlistNames();
    const int r = m_setList->selectedRow();
    const int n = int(songs.setListData().size());
    if (r >= n) {
        m_setList->reloadData();
        if (n > 0)
            m_setList->selectRow(n - 1);
        else
            m_setList->deselectAll();
    } else if (r == -1) {
        if (n > 0) {
            m_setList->selectRow(0);
            sendSelectIndex(0);
        }
        m_setList->reloadData();
        m_setList->deselectAll();
    } else {
        m_setList->reloadData();
        m_setList->selectRow(r);
    }
    updateSetTime();
}

void StagerunViewController::playIsPressed()
{
    m_services->sender.sendTransportCommand(1);
}

void StagerunViewController::stopIsPressed()
{
    m_services->sender.sendTransportCommand(2);
}

void StagerunViewController::prevIsPressed()
{
    m_services->sender.sendTransportCommand(3);
}

void StagerunViewController::nextIsPressed()
{
    m_services->sender.sendTransportCommand(4);
}

void StagerunViewController::songPoolPlayIsPressed()
{
    if (!m_songPool)
        return;
    const int r = m_songPool->selectedRow();
    const QList<Song> &pool = m_services->songManager.filteredPoolData();
    if (r < 0 || r >= pool.size())
        return;
    m_services->sender.sendPlaySongPoolSong(pool.at(r).id);
}

void StagerunViewController::searchFieldIsChanged(const QString &text)
{
    SongManager &songs = m_services->songManager;
    const QString query = text.toLower();
    if (query.isEmpty()) {
        songs.setFilteredPoolData(songs.songPoolData());
    } else {
        QList<Song> found;
        for (const Song &song : songs.songPoolData()) {
            if (song.name.toLower().contains(query))
                found.append(song);
        }
        songs.setFilteredPoolData(found);
    }
    if (m_songPool)
        m_songPool->reloadData();
}

void StagerunViewController::addToSetlistButtonPressed()
{
    if (!m_songPool)
        return;
    SongManager &songs = m_services->songManager;
    const int r = m_songPool->selectedRow();
    if (r < 0 || r >= songs.filteredPoolData().size())
        return;
    songs.addToSetlist(songs.filteredPoolData().at(r), std::nullopt);

    StagerunViewController *pane = setlistPaneController();
    if (!pane || !pane->m_setList)
        return;
    const int selected = pane->m_setList->selectedRow();
    pane->m_setList->reloadData();
    if (selected >= 0 && selected < songs.setListData().size())
        pane->m_setList->selectRow(selected);
    pane->updateSetTime();
}

void StagerunViewController::removeFromSetlistButtonPressed()
{
    if (!m_setList)
        return;
    SongManager &songs = m_services->songManager;
    const int r = m_setList->selectedRow();
    if (r < 0 || r >= songs.setListData().size())
        return;
    songs.removeFromSetlist(songs.setListData().at(r), r);
    m_setList->reloadData();
    const int n = int(songs.setListData().size());
    int next = -1;
    if (r < n)
        next = r;
    else if (n > 0)
        next = r - 1;
    if (next >= 0) {
        m_setList->selectRow(next);
        // The set time counts from the entry now selected.
        songs.setSelectedSetlistIndex(next);
        sendSelectIndex(next);
    } else {
        m_setList->deselectAll();
        songs.setSelectedSetlistIndex(-1);
    }
    updateSetTime();
}

void StagerunViewController::tableViewSelectionDidChange()
{
    if (!m_setList || !m_isUserSelectionChange)
        return;
    SongManager &songs = m_services->songManager;
    const int r = m_setList->selectedRow();
    if (r < 0 || r >= songs.setListData().size())
        return;
    songs.setSelectedSetlistIndex(r);
    updateSetTime();
    sendSelectIndex(r);
    // Handled even when the position could not travel: the next change is Live's.
    m_isUserSelectionChange = false;
}

void StagerunViewController::arrowKeyUsed()
{
    m_isUserSelectionChange = true;
}

void StagerunViewController::updateSetTime()
{
    if (m_setTimeDisplayField)
        m_setTimeDisplayField->setText(m_services->songManager.remainingSetTimeString());
}

bool StagerunViewController::sendSelectIndex(int index)
{
    if (index < 0 || index > 255) {
        // One byte on the wire: a wrapped value would move Live to the wrong song.
        mlog::out(QStringLiteral("Setlist position %1 cannot be sent to Live (0 to 255); "
                                 "the selection stays local.")
                      .arg(index));
        return false;
    }
    m_services->sender.sendSelectSetlistIndex(index);
    return true;
}

void StagerunViewController::cueModeSwitched(int index)
{
    if (!m_initMode)
        return;
    if (index == 0)
        m_services->sender.sendCueMode(1);
    else if (index == 1)
        m_services->sender.sendCueMode(2);
}

void StagerunViewController::autoConnectToDaemonToggle(bool on)
{
    QSettings().setValue(autoConnectKey, on);
}

void StagerunViewController::openiOSBridge()
{
    m_services->daemonLauncher.launchDaemonIfNeeded();
}
