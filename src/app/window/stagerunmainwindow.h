// SPDX-License-Identifier: MIT
#pragma once

#include <QMainWindow>

class StagerunViewController;

// The show window. Programmatic origin changes keep the window's x, so code can only
// move it vertically; its size, position and the pool pane's collapsed state are
// remembered between launches.
class StageRunMainWindow final : public QMainWindow
{
    Q_OBJECT

public:
    explicit StageRunMainWindow(QWidget *parent = nullptr);

    void setFrameOrigin(const QPoint &origin);

    StagerunViewController *setlistPane() const;
    StagerunViewController *songPoolPane() const;
    // The pane that loaded last: the one to register as the connection's delegate.
    StagerunViewController *delegatePane() const;

    // Writes geometry and the pool pane's collapsed state to the settings.
    void saveWindowState() const;
    void restoreWindowState();

public slots:
    // Live's playing state, for the play buttons of both panes.
    void updatePlayButton(bool isPlaying);

protected:
    void closeEvent(QCloseEvent *event) override;
};
