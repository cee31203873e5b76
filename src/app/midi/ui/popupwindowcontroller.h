// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QPointer>

class MIDIManager;
class QSettings;
class QWidget;

// Opens the MIDI mapping window: one at a time, raised when asked for again while
// open, made anew after it was closed. It reopens at launch when it was open at the
// last quit (the "MidiMapWindow/open" setting). Main thread only.
class PopUpWindowController final : public QObject
{
    Q_OBJECT

public:
    // parent: the show window, which the mapping window opens beside.
    PopUpWindowController(MIDIManager &manager, QSettings &settings, QWidget *parent);

    QWidget *window() const { return m_window; }
    void showWindow();
    // Shows the window when it was open at the last quit.
    void restoreWindow();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void placeBesideParent(QWidget &window) const;

    MIDIManager &m_manager;
    QSettings &m_settings;
    QPointer<QWidget> m_parent;
    QPointer<QWidget> m_window;
};
