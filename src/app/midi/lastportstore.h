// SPDX-License-Identifier: MIT
#pragma once

#include <QtGlobal>

#include <optional>

class PersistentStore;

// The MIDI input used last, kept in the persistent store's Preferences record
// (-1 = "No Port Selected"). Main thread only. Every outcome is logged; a failed save
// keeps the value pending in the store, so the quit rule's save still writes it.
class LastPortStore final
{
public:
    // store may be null or not open: both mean there is no store to reach.
    explicit LastPortStore(PersistentStore *store) : m_store(store) {}

    // None when nothing usable is stored. A stored value outside 32 bits cannot come
    // from a save; it is treated as no port and left as it is.
    std::optional<qint32> loadLastPortUniqueID();
    // None stores "No Port Selected". Saves at once.
    void saveLastPortUniqueID(std::optional<qint32> uniqueID);

private:
    PersistentStore *m_store;
};
