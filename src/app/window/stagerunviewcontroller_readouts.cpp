// SPDX-License-Identifier: MIT
// The pane's read-outs, the connection's delegate operations, drops and the panels.
#include "stagerunviewcontroller.h"

#include "daemonlauncher.h"
#include "livelinksender.h"
#include "log.h"
#include "showwindowservices.h"
#include "songmanager.h"
#include "songtablemodel.h"
#include "stagerunmainwindow.h"
#include "stagerunsplitview.h"
#include "stagerunsvcontroller.h"
#include "stageruntableview.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFile>
#include <QIcon>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

#include <charconv>
#include <cmath>

#ifndef MARQUELL_SHORT_VERSION
#define MARQUELL_SHORT_VERSION "1.5"
#endif

const QColor StagerunViewController::lampGrey = QColor(0x8e, 0x8e, 0x93);
const QColor StagerunViewController::lampOrange = QColor(0xff, 0x95, 0x00);
const QColor StagerunViewController::lampBlue = QColor(0x0a, 0x84, 0xff);
const QColor StagerunViewController::lampGreen = QColor(0x30, 0xd1, 0x58);
const QColor StagerunViewController::lampRed = QColor(0xff, 0x45, 0x3a);

bool StagerunViewController::acceptDrop(const QMimeData &data, int dropRow)
{
    if (!m_setList || !data.hasText())
        return false;
    SongManager &songs = m_services->songManager;
    const QString name = data.text();
    QList<Song> setlist = songs.setListData();

    // A drag from our own setlist names its row; anything else goes by name.
    int source = -1;
    if (const std::optional<int> row = SongTableModel::draggedSetlistRow(data);
        row && *row < setlist.size() && setlist.at(*row).name == name) {
        source = *row;
    } else {
        for (int i = 0; i < setlist.size(); ++i) {
            if (setlist.at(i).name == name) {
                source = i;
                break;
            }
        }
    }

    int changedAt = -1;
    if (source >= 0) {
        // The line above row dropRow: moving down, the rows in between close up first.
        const int target =
            std::clamp(dropRow > source ? dropRow - 1 : dropRow, 0, int(setlist.size()) - 1);
        if (target != source) {
            const Song moved = setlist.takeAt(source);
            setlist.insert(target, moved);
            changedAt = target;
        }
    } else {
        const QList<Song> &pool = songs.filteredPoolData();
        const auto match = std::find_if(pool.cbegin(), pool.cend(),
                                        [&name](const Song &s) { return s.name == name; });
        if (match != pool.cend()) {
            changedAt = std::clamp(dropRow, 0, int(setlist.size()));
            setlist.insert(changedAt, *match);
        }
    }
    if (changedAt >= 0)
        songs.setSetListData(setlist);

    // The drop sends its own selection below; the table's selection change must not
    // send a position before Live has the new order.
    const bool wasUserChange = m_isUserSelectionChange;
    m_isUserSelectionChange = false;
    m_setList->reloadData();
    if (changedAt >= 0)
        m_setList->selectRow(changedAt);
    m_isUserSelectionChange = wasUserChange;

    const int s = m_setList->selectedRow();
    if (s >= 0 && s < songs.setListData().size()) {
        songs.setSelectedSetlistIndex(s);
        updateSetTime();
        m_services->sender.sendSetlist(songs.setListData());
        sendSelectIndex(s);
        m_isUserSelectionChange = false;
    }
    return true;
}

void StagerunViewController::selectSetlistRow(int index)
{
    StagerunViewController *pane = setlistPaneController();
    if (!pane || !pane->m_setList) {
        mlog::out(QStringLiteral("Unable to access Setlist View Controller or table view"));
        return;
    }
    if (index < 0 || index >= pane->m_setList->numberOfRows()) {
        mlog::out(QStringLiteral("Invalid row index: %1").arg(index));
        return;
    }
    // Sent back to Live only when a user's click left the selection unchanged.
    pane->m_setList->selectRow(index);
    m_services->songManager.setSelectedSetlistIndex(index);
    pane->updateSetTime();
}

QString StagerunViewController::bpmText(float bpm)
{
    if (!std::isfinite(bpm))
        return QStringLiteral("--");
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, bpm, std::chars_format::fixed);
    QString text = QString::fromLatin1(buffer, result.ptr - buffer);
    if (!text.contains(QLatin1Char('.')))
        text += QStringLiteral(".0");
    return text;
}

void StagerunViewController::showBPM(float bpm)
{
    StagerunViewController *pane = setlistPaneController();
    if (!pane)
        return;
    if (!pane->m_bpmDisplayField) {
        mlog::out(QStringLiteral("bpmDisplayField is nil!"));
        return;
    }
    pane->m_bpmDisplayField->setText(bpmText(bpm));
}

void StagerunViewController::showCueMode(int mode)
{
    if (!m_songPool)
        return;
    m_initMode = true;
    if (!m_cueModeComboBoxCell)
        return;
    // Selecting from code is not a choice in the box: nothing is sent.
    const bool known = mode >= 1 && mode <= m_cueModeComboBoxCell->count();
    m_cueModeComboBoxCell->setCurrentIndex(known ? mode - 1 : -1);
}

void StagerunViewController::setLampColor(const QColor &color)
{
    m_lampColor = color;
    if (!m_statusIndicatorButton)
        return;
    const int side = qMin(m_statusIndicatorButton->width(), m_statusIndicatorButton->height());
    m_statusIndicatorButton->setStyleSheet(
        QStringLiteral(
            "QAbstractButton { background-color: %1; border: none; border-radius: %2px; }")
            .arg(color.name())
            .arg(side / 2));
}

void StagerunViewController::showBridgeState()
{
    const bool running = m_services->daemonLauncher.isDaemonRunning();
    if (running == m_bridgeRunning && !m_iosBridgeButton->icon().isNull())
        return;
    m_bridgeRunning = running;
    QPixmap lamp(12, 12);
    lamp.fill(Qt::transparent);
    {
        QPainter painter(&lamp);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(running ? lampGreen : lampGrey);
        painter.drawEllipse(lamp.rect().adjusted(1, 1, -1, -1));
    }
    m_iosBridgeButton->setIcon(QIcon(lamp));
    m_iosBridgeButton->setToolTip(running ? QStringLiteral("The iOS Bridge is running")
                                          : QStringLiteral("The iOS Bridge is not running: "
                                                           "click to start it"));
}

void StagerunViewController::setStatus(const QString &text, const QColor &lamp)
{
    StagerunViewController *pane = setlistPaneController();
    if (!pane || !pane->m_serverStatusTextField || !pane->m_statusIndicatorButton)
        return;
    pane->m_serverStatusTextField->setText(text);
    // The label shortens what does not fit; the whole text stays a hover away.
    pane->m_serverStatusTextField->setToolTip(QString(text).replace(QLatin1Char('\n'), ' '));
    pane->setLampColor(lamp);
}

void StagerunViewController::showServerStatus(const QString &text)
{
    QMetaObject::invokeMethod(
        this, [this, text] { setStatus(text, lampOrange); }, Qt::QueuedConnection);
}

void StagerunViewController::showWaitingForValidation()
{
    QMetaObject::invokeMethod(
        this, [this] { setStatus(QStringLiteral("Waiting for Validation"), lampBlue); },
        Qt::QueuedConnection);
}

void StagerunViewController::showConnected()
{
    QMetaObject::invokeMethod(
        this, [this] { setStatus(QStringLiteral("Connected to Live"), lampGreen); },
        Qt::QueuedConnection);
}

void StagerunViewController::showConnectionFailed(const QString &error)
{
    const QString text = error.isEmpty() ? QStringLiteral("Connection failed. Retrying...")
                                         : QStringLiteral("Connection failed: ") + error;
    QMetaObject::invokeMethod(
        this, [this, text] { setStatus(text, lampRed); }, Qt::QueuedConnection);
}

void StagerunViewController::setPlayButtonImage(bool isPlaying)
{
    const QString name = isPlaying ? QStringLiteral("play2") : QStringLiteral("play");
    const QString path = m_imageRoot + name + QStringLiteral(".svg");
    if (!QFile::exists(path) || !QSvgRenderer(path).isValid()) {
        mlog::out(QStringLiteral("❌ Couldn't load image named ") + name);
        return;
    }
    const QIcon icon(path);
    for (QAbstractButton *button : {m_songpoolPlayButton.data(), m_setlistPlayButton.data()}) {
        if (button) {
            button->setIcon(icon);
            button->setProperty("imageName", name);
        }
    }
}

void StagerunViewController::panelToggler()
{
    StageRunSVController *sv = parentSplitViewController();
    if (!sv || sv->itemCount() < 2)
        return;
    StagerunSplitView *split = sv->splitView();
    QWidget *first = split->widget(0);
    QWidget *pool = split->widget(1);
    QWidget *win = window();
    const int chrome = win->width() - split->width();
    const bool collapse = !sv->isItemCollapsed(1);
    int width = 0;
    if (collapse) {
        width = first->width() + chrome;
        split->setProperty("poolWidthDelta", win->width() - width);
    } else {
        // Give the pool back the room it had (or, after a launch, its natural width).
        int delta = split->property("poolWidthDelta").toInt();
        if (delta <= 0)
            delta = split->handleWidth() +
                    qMax(pool->sizeHint().width(), pool->minimumSizeHint().width());
        width = win->width() + delta;
    }
    sv->setItemCollapsed(1, collapse);
    // The window's minimum width still counts the hidden pane until its layout reruns.
    for (QWidget *w = split; w && w != win; w = w->parentWidget())
        w->updateGeometry();
    if (QLayout *layout = win->layout()) {
        layout->invalidate();
        layout->activate();
    }
    if (win->isWindow() && !(win->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
        win->resize(width, win->height());
    if (auto *main = qobject_cast<StageRunMainWindow *>(win))
        main->saveWindowState();
}

QMessageBox *StagerunViewController::orderFrontStandardAboutPanel()
{
    auto *box = new QMessageBox(window());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setObjectName(QStringLiteral("aboutPanel"));
    box->setWindowTitle(QStringLiteral("About Marquell"));
    box->setIconPixmap(QIcon(m_imageRoot + QStringLiteral("note.svg")).pixmap(64, 64));
    box->setTextFormat(Qt::RichText);
    box->setText(QStringLiteral("<h2>Marquell</h2><p>Version " MARQUELL_SHORT_VERSION "</p>"));
    box->setInformativeText(
        QStringLiteral("<span style=\"font-size: 11pt; color: #8e8e93;\">"
                       "Show control for performers who run their set from Ableton Live.</span>"));
    box->setStandardButtons(QMessageBox::Ok);
    box->open();
    return box;
}

QMessageBox *StagerunViewController::showHelp()
{
    auto *box = new QMessageBox(window());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setObjectName(QStringLiteral("helpAlert"));
    box->setIcon(QMessageBox::Information);
    box->setWindowTitle(QStringLiteral("Marquell Help"));
    box->setText(QStringLiteral("Marquell Help"));
    box->setInformativeText(QStringLiteral(
        "Questions or problems? Write to support@orvanta-audio.com and tell us what you "
        "did, what you expected and what happened."));
    box->setStandardButtons(QMessageBox::Ok);
    box->open();
    return box;
}
