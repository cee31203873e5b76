// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QPointer>

class MIDIManager;
class QWidget;

// Opens the MIDI mapping window: one at a time, raised when asked for again while
// open, made anew after it was closed. Main thread only.
class PopUpWindowController final : public QObject
{
    Q_OBJECT

public:
    // parent: the show window, which the mapping window stays in front of.
    PopUpWindowController(MIDIManager &manager, QWidget *parent);

    QWidget *window() const { return m_window; }
    void showWindow();

private:
    MIDIManager &m_manager;
    QPointer<QWidget> m_parent;
    QPointer<QWidget> m_window;
};
