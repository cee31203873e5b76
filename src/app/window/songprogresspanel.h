// SPDX-License-Identifier: MIT
#pragma once

#include "livelinkcodec.h"

#include <QList>
#include <QTimer>
#include <QWidget>

#include <functional>

class LiveLinkSender;
class QHBoxLayout;
class QLabel;
class QPushButton;
class SongPositionModel;

// The current song in the show window: a progress bar with its sections marked, one
// button per section (the playing one highlighted, a pending jump marked until it
// lands), a "stops after this song" note, and the large time left in the song that
// sits in the readout row. All of it stays hidden while Live reports no position, so
// with an older Remote Script the window looks as it always has.
class SongProgressPanel final : public QWidget
{
    Q_OBJECT

public:
    explicit SongProgressPanel(QWidget *parent = nullptr);

    // timeLeft and its column belong to the readout row; the column hides with the panel.
    void setUp(SongPositionModel &model, LiveLinkSender &sender, QLabel *timeLeft,
               QWidget *timeLeftColumn);

    // Whole seconds rounded up, so 0:00 shows only at the song's end.
    static QString timeLeftText(quint32 remainingMs);

    // Told after every paint of the bar what it showed (for measurements).
    using DrawObserver = std::function<void(quint64 songId, quint32 elapsedMs)>;
    void setDrawObserver(DrawObserver observer) { m_drawObserver = std::move(observer); }

    QWidget *progressBar() const { return m_bar; }
    QLabel *stopNote() const { return m_stopNote; }
    QList<QPushButton *> sectionButtons() const { return m_buttons; }

private:
    friend class SongProgressBar;
    void showPosition();
    void rebuildSections(const QList<livelink::Section> &sections);
    void tick();

    SongPositionModel *m_model = nullptr;
    LiveLinkSender *m_sender = nullptr;
    QLabel *m_timeLeft = nullptr;
    QWidget *m_timeLeftColumn = nullptr;
    QWidget *m_bar = nullptr;
    QLabel *m_stopNote = nullptr;
    QHBoxLayout *m_sectionRow = nullptr;
    QList<QPushButton *> m_buttons;
    QList<livelink::Section> m_shownSections;
    QTimer m_ticker;
    DrawObserver m_drawObserver;
};
