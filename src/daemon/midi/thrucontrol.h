// SPDX-License-Identifier: MIT
#pragma once

#include <QList>
#include <QSet>
#include <QString>

// What the status menu's "MIDI Thru" submenu reads and toggles. Main thread only.
class ThruControl
{
public:
    struct Source
    {
        qint32 id = 0; // unique ID, the item's tag
        QString name;
        friend bool operator==(const Source &, const Source &) = default;
    };

    virtual ~ThruControl() = default;
    // Inputs that can be passed through; never the daemon's own virtual source.
    virtual QList<Source> availableSources() const = 0;
    virtual QSet<qint32> selectedSourceIDs() const = 0;
    virtual void toggle(qint32 id) = 0;
};
