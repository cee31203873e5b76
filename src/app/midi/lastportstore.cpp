// SPDX-License-Identifier: MIT
#include "lastportstore.h"

#include "log.h"
#include "persistentstore.h"

#include <limits>

namespace {

constexpr qint64 noPortSelected = -1;

} // namespace

std::optional<qint32> LastPortStore::loadLastPortUniqueID()
{
    if (!m_store || !m_store->isOpen()) {
        mlog::out(QStringLiteral("Failed to access AppDelegate."));
        return std::nullopt;
    }
    const std::optional<qint64> stored = m_store->lastPortUniqueID();
    if (!stored) {
        mlog::out(QStringLiteral("No last MIDI port found in Core Data."));
        return std::nullopt;
    }
    if (*stored == noPortSelected) {
        mlog::out(QStringLiteral("Last MIDI port state: No Port Selected"));
        return std::nullopt;
    }
    // Truncating would pick whichever device happens to hash to the low bits.
    if (*stored < std::numeric_limits<qint32>::min() ||
        *stored > std::numeric_limits<qint32>::max()) {
        mlog::out(QStringLiteral("Ignoring stored MIDI port unique ID %1: not a 32-bit ID.")
                      .arg(*stored));
        return std::nullopt;
    }
    mlog::out(QStringLiteral("Retrieved last MIDI port with unique ID: %1").arg(*stored));
    return qint32(*stored);
}

void LastPortStore::saveLastPortUniqueID(std::optional<qint32> uniqueID)
{
    if (!m_store || !m_store->isOpen()) {
        mlog::out(QStringLiteral("Failed to access AppDelegate."));
        return;
    }
    if (uniqueID) {
        m_store->setLastPortUniqueID(*uniqueID);
        mlog::out(QStringLiteral("Saved last MIDI port with unique ID: %1").arg(*uniqueID));
    } else {
        m_store->setLastPortUniqueID(noPortSelected);
        mlog::out(QStringLiteral("Saved state as 'No Port Selected'"));
    }
    if (!m_store->save())
        mlog::out(QStringLiteral("Failed to save last MIDI port: ") + m_store->lastError());
}
