// SPDX-License-Identifier: MIT
#pragma once

#include "marquellstate.h"

#include <QByteArrayView>

class PhoneRelay;

// The daemon's cache of the show state, kept for the life of the process so a phone
// that connects late still gets everything. One per process, made by main and
// passed by reference; touched only from the main thread.
class DaemonStateCache final
{
public:
    explicit DaemonStateCache(PhoneRelay &phone) : m_phone(&phone) {}
    DaemonStateCache(const DaemonStateCache &) = delete;
    DaemonStateCache &operator=(const DaemonStateCache &) = delete;

    // The iOS socket, once it exists, takes over from the placeholder.
    void setPhoneRelay(PhoneRelay &phone) { m_phone = &phone; }

    MarquellState &currentState() { return m_state; }
    const MarquellState &currentState() const { return m_state; }

    // Set from the start of a phone setlist merge until the next song data is stored.
    bool setlistFromiOS() const { return m_setlistFromiOS; }

    // Stores a type 3 payload and forwards it to the phone, unless it is the merge
    // of a setlist the phone itself sent (no echo).
    void updateSongData(const QByteArray &bytes);

    // Folds a setlist message from the phone (0x04 then full song records) into the
    // cached song data, keeping the cached pool.
    void mergeSetlistFromiOS(const QByteArray &bytes);

    // Where the setlist section (its 0x04) of a cached type 3 payload starts;
    // prints why and gives none when it cannot be found.
    static std::optional<qsizetype> setlistStartOffset(QByteArrayView songData);

private:
    PhoneRelay *m_phone;
    MarquellState m_state;
    bool m_setlistFromiOS = false;
};
