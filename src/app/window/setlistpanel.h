// SPDX-License-Identifier: MIT
#pragma once

#include "setlistlibrary.h"

#include <QDialog>

#include <functional>

class LiveLinkSender;
class QLabel;
class QListView;
class QListWidget;
class QPushButton;
class SongManager;
class SongPositionModel;

// The setlist library panel of the show window: the saved setlists (the open set's
// first), the songs of the one selected with the missing ones greyed, and the
// operations. A tool window beside the show window, in its dark style.
class SetlistPanel final : public QDialog
{
    Q_OBJECT

public:
    struct Services
    {
        SetlistLibrary &library;
        SongManager &songs;
        LiveLinkSender &sender;
        SongPositionModel *position = nullptr; // Live's "stop after" marks, when known
        std::function<bool()> isPlaying;
    };

    SetlistPanel(const Services &services, QWidget *parent = nullptr);

    int currentRow() const;
    void selectRow(int row);
    // The message line: what the last operation did or why it failed.
    QString message() const;

    // The operations behind the buttons; those that need a name or a file ask for it.
    void saveCurrent();
    void loadSelected();
    void renameSelected();
    void duplicateSelected();
    void deleteSelected();
    void undoDelete();
    void moveSelected(int delta);
    void importFile();
    void importClipboard();
    void exportSelected();
    void printSelected();

private:
    void refreshOpenSet();
    void refreshSongs();
    void refreshButtons();
    void showMessage(const QString &text, bool error = false);
    void importBytes(const QByteArray &bytes, const QString &fallbackName, const QString &from);
    bool stopAfterOf(quint64 songId) const;

    Services m_services;
    QListView *m_list = nullptr;
    QListWidget *m_songList = nullptr;
    QLabel *m_openSetLabel = nullptr;
    QLabel *m_summary = nullptr;
    QLabel *m_message = nullptr;
    QHash<QString, QPushButton *> m_buttons;
};
