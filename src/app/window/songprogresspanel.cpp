// SPDX-License-Identifier: MIT
#include "songprogresspanel.h"

#include "livelinksender.h"
#include "songposition.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// Often enough that the bar moves smoothly; the readout also wakes at each second's flip.
constexpr int kFrameMs = 40;

const QColor kTrack(0x2c, 0x2c, 0x2e);
const QColor kFill(0x0a, 0x84, 0xff);
const QColor kPending(0xff, 0x95, 0x00);

} // namespace

// The bar works out the position while it paints, so what it draws is never older
// than the paint itself.
class SongProgressBar final : public QWidget
{
public:
    explicit SongProgressBar(SongProgressPanel &panel) : QWidget(&panel), m_panel(panel)
    {
        setObjectName(QStringLiteral("songProgressBar"));
        setFixedHeight(18);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        const SongPositionModel *model = m_panel.m_model;
        if (!model)
            return;
        const livelink::SongPosition &report = model->report();
        const quint32 elapsed = model->elapsedAt(SongPositionModel::Clock::now());
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF track = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        const qreal radius = track.height() / 2;
        painter.setPen(Qt::NoPen);
        painter.setBrush(kTrack);
        painter.drawRoundedRect(track, radius, radius);
        if (report.lengthMs > 0) {
            const auto at = [&](quint32 ms) {
                return track.left() + track.width() * std::min(1.0, double(ms) / report.lengthMs);
            };
            QPainterPath clip;
            clip.addRoundedRect(track, radius, radius);
            painter.setClipPath(clip);
            painter.fillRect(QRectF(track.topLeft(), QPointF(at(elapsed), track.bottom())), kFill);
            const QList<livelink::Section> sections = model->currentSections();
            for (int i = 1; i < sections.size(); ++i) {
                const bool pending = i == report.pendingSection;
                painter.fillRect(QRectF(at(sections[i].startMs) - (pending ? 2 : 1), track.top(),
                                        pending ? 4 : 2, track.height()),
                                 pending ? kPending : QColor(Qt::black));
            }
        }
        if (m_panel.m_drawObserver)
            m_panel.m_drawObserver(report.songId, elapsed);
    }

private:
    SongProgressPanel &m_panel;
};

SongProgressPanel::SongProgressPanel(QWidget *parent) : QWidget(parent)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);
    m_bar = new SongProgressBar(*this);
    column->addWidget(m_bar);
    m_sectionRow = new QHBoxLayout;
    m_sectionRow->setSpacing(8);
    column->addLayout(m_sectionRow);
    m_stopNote = new QLabel(QStringLiteral("STOPS AFTER THIS SONG"), this);
    m_stopNote->setObjectName(QStringLiteral("stopAfterNote"));
    m_stopNote->hide();
    column->addWidget(m_stopNote);
    m_ticker.setSingleShot(true);
    m_ticker.setTimerType(Qt::PreciseTimer);
    connect(&m_ticker, &QTimer::timeout, this, &SongProgressPanel::tick);
    hide(); // until Live reports a position
}

void SongProgressPanel::setUp(SongPositionModel &model, LiveLinkSender &sender, QLabel *timeLeft,
                              QWidget *timeLeftColumn)
{
    m_model = &model;
    m_sender = &sender;
    m_timeLeft = timeLeft;
    m_timeLeftColumn = timeLeftColumn;
    for (auto signal : {&SongPositionModel::positionChanged, &SongPositionModel::sectionsChanged})
        connect(&model, signal, this, &SongProgressPanel::showPosition);
    showPosition();
}

QString SongProgressPanel::timeLeftText(quint32 remainingMs)
{
    const quint32 seconds = remainingMs / 1000 + (remainingMs % 1000 ? 1 : 0);
    const QLatin1Char zero('0');
    if (seconds >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(seconds / 3600)
            .arg(seconds / 60 % 60, 2, 10, zero)
            .arg(seconds % 60, 2, 10, zero);
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, zero);
}

void SongProgressPanel::showPosition()
{
    const bool known = m_model->isKnown();
    setVisible(known);
    if (m_timeLeftColumn)
        m_timeLeftColumn->setVisible(known);
    const QList<livelink::Section> sections = m_model->currentSections();
    if (sections != m_shownSections)
        rebuildSections(sections);
    const livelink::SongPosition &report = m_model->report();
    const bool pending = report.state & livelink::SongPosition::SectionJumpPending;
    for (int i = 0; i < m_buttons.size(); ++i) {
        QPushButton *button = m_buttons[i];
        const bool playing = i == report.section;
        const bool goingThere = pending && i == report.pendingSection;
        if (button->property("playing").toBool() == playing &&
            button->property("pending").toBool() == goingThere)
            continue;
        button->setProperty("playing", playing);
        button->setProperty("pending", goingThere);
        button->style()->unpolish(button);
        button->style()->polish(button);
    }
    m_stopNote->setVisible(m_model->stopsAfterSong());
    tick();
}

void SongProgressPanel::rebuildSections(const QList<livelink::Section> &sections)
{
    qDeleteAll(m_buttons);
    m_buttons.clear();
    m_shownSections = sections;
    for (int i = 0; i < sections.size(); ++i) {
        auto *button = new QPushButton(sections[i].name, this);
        button->setObjectName(QStringLiteral("sectionButton"));
        button->setFocusPolicy(Qt::NoFocus);
        // Many sections share the row rather than widening the window.
        button->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        button->setMinimumWidth(0);
        connect(button, &QPushButton::clicked, this, [this, i] {
            // The song the window shows: a tap that crossed a song change is dropped by Live.
            m_sender->sendJumpToSection(m_model->report().songId, i);
        });
        m_sectionRow->addWidget(button);
        m_buttons.append(button);
    }
}

void SongProgressPanel::tick()
{
    m_ticker.stop();
    const livelink::SongPosition &report = m_model->report();
    const quint32 remaining = m_model->remainingAt(SongPositionModel::Clock::now());
    if (m_timeLeft)
        m_timeLeft->setText(report.songId ? timeLeftText(remaining) : QStringLiteral("-:--"));
    m_bar->update();
    if (!report.playing() || remaining == 0)
        return;
    const int untilFlip = int((remaining - 1) % 1000) + 1;
    m_ticker.start(std::min(kFrameMs, untilFlip));
}
