// SPDX-License-Identifier: MIT
#pragma once

#include "serverdetectordelegate.h"
#include "socketclientdelegate.h"
#include "stageruntableview.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QColor>
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QWidget>

class QLineEdit;
class QMenu;
class QMessageBox;
class QMimeData;
class SongTableModel;
class StageRunSVController;
struct ShowWindowServices;

// One pane of the show window. Both panes are this class; which child widgets the
// layout gives a pane (found by object name at load) decides what it does: the
// setlist pane has the setlist table and the read-outs, the song pool pane the pool
// table, search, add, cue mode and auto-connect controls.
//
// The pane that loads last is the connection's delegate; every delegate operation
// except showCueMode works on the setlist pane, found through the split controller.
class StagerunViewController final : public QWidget,
                                     public SocketClientDelegate,
                                     public ServerDetectorDelegate
{
    Q_OBJECT

public:
    static const QString autoConnectKey; // "AutoDaemonConnectEnabled"

    static const QColor lampGrey;
    static const QColor lampOrange;
    static const QColor lampBlue;
    static const QColor lampGreen;
    static const QColor lampRed;

    explicit StagerunViewController(QWidget *parent = nullptr);
    ~StagerunViewController() override;

    // Called once, after the layout is built and before the pane is shown.
    void viewDidLoad(ShowWindowServices &services);

    bool initMode() const { return m_initMode; }
    bool isUserSelectionChange() const { return m_isUserSelectionChange; }

    // Outlets; null where the layout gives this pane none.
    StageRunTableView *setList() const { return m_setList; }
    StageRunTableView *songPool() const { return m_songPool; }
    QLabel *serverStatusTextField() const { return m_serverStatusTextField; }
    QAbstractButton *statusIndicatorButton() const { return m_statusIndicatorButton; }
    QLabel *bpmDisplayField() const { return m_bpmDisplayField; }
    QLabel *setTimeDisplayField() const { return m_setTimeDisplayField; }
    QComboBox *cueModeComboBoxCell() const { return m_cueModeComboBoxCell; }
    QCheckBox *autoConnectToDaemonStatus() const { return m_autoConnectToDaemonStatus; }
    QAbstractButton *setlistPlayButton() const { return m_setlistPlayButton; }
    QAbstractButton *songpoolPlayButton() const { return m_songpoolPlayButton; }
    SongTableModel *setListModel() const { return m_setListModel; }
    SongTableModel *songPoolModel() const { return m_songPoolModel; }
    // The lamp's current colour.
    QColor statusIndicatorColor() const { return m_lampColor; }
    // Whether the iOS Bridge button shows the daemon running (its lock held).
    bool showsBridgeRunning() const { return m_bridgeRunning; }

    // SocketClientDelegate
    void selectSetlistRow(int index) override;
    void showCueMode(int mode) override;
    void showBPM(float bpm) override;
    // ServerDetectorDelegate: these hop to the event loop before touching widgets.
    void showServerStatus(const QString &text) override;
    void showWaitingForValidation() override;
    void showConnected() override;
    void showConnectionFailed(const QString &error) override;

    // Shortest text that reads back as the same 32-bit float, at least one decimal.
    static QString bpmText(float bpm);
    // Where play button images are looked up; tests point it elsewhere.
    void setImageRoot(const QString &root) { m_imageRoot = root; }

    // Drop onto the setlist at the drop line dropRow (0..rows).
    bool acceptDrop(const QMimeData &data, int dropRow);

    // The setlist row's context menu (deleted when closed); none without a row.
    QMenu *setlistContextMenu(int row);
    // Asks Live to flip the row's "stop after" mark; the row shows Live's answer.
    void toggleStopAfter(int row);

public slots:
    void setPlayButtonImage(bool isPlaying);
    void refreshUI();

    void playIsPressed();
    void stopIsPressed();
    void prevIsPressed();
    void nextIsPressed();
    void songPoolPlayIsPressed();
    void searchFieldIsChanged(const QString &text);
    void addToSetlistButtonPressed();
    void removeFromSetlistButtonPressed();
    void cueModeSwitched(int index);
    void autoConnectToDaemonToggle(bool on);
    void openiOSBridge();
    void openMidiMapWindowPressed() { emit midiMapWindowRequested(); }
    void panelToggler();
    QMessageBox *orderFrontStandardAboutPanel();
    QMessageBox *showHelp();

signals:
    // The MIDI button: the composition root opens (or raises) the mapping window.
    void midiMapWindowRequested();

private:
    StageRunSVController *parentSplitViewController() const;
    StagerunViewController *setlistPaneController() const;
    void findOutlets();
    void setUpSetList();
    void setUpSongPool();
    void setUpSongProgress();
    void connectActions();
    void tableViewSelectionDidChange();
    void arrowKeyUsed();
    void setStatus(const QString &text, const QColor &lamp);
    void setLampColor(const QColor &color);
    void showBridgeState();
    void updateSetTime();
    // Sends a setlist position unless it cannot travel in one byte.
    bool sendSelectIndex(int index);

    ShowWindowServices *m_services = nullptr;
    bool m_initMode = false;
    bool m_isUserSelectionChange = false;
    QString m_imageRoot = QStringLiteral(":/images/");
    QColor m_lampColor;
    int m_poolWidth = 0;
    bool m_bridgeRunning = false;

    QPointer<QComboBox> m_cueModeComboBoxCell;
    QPointer<QLabel> m_serverStatusTextField;
    QPointer<QAbstractButton> m_statusIndicatorButton;
    QPointer<QLabel> m_bpmDisplayField;
    QPointer<QLabel> m_setTimeDisplayField;
    QPointer<StageRunTableView> m_setList;
    QPointer<StageRunTableView> m_songPool;
    QPointer<QCheckBox> m_autoConnectToDaemonStatus;
    QPointer<QAbstractButton> m_setlistPlayButton;
    QPointer<QAbstractButton> m_songpoolPlayButton;
    QPointer<QAbstractButton> m_iosBridgeButton;
    SongTableModel *m_setListModel = nullptr;
    SongTableModel *m_songPoolModel = nullptr;
};
