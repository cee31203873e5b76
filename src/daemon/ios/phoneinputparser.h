// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <optional>

// Cuts what a phone writes (no framing) into whole messages. Pure: no sockets, no
// timers, so it can be fed any chunking and fuzzed.
//
// Fixed sizes: MIDI record 0x20 (4), and the Live link client messages of types 0 (6),
// 1, 2, 3, 7 (2), 5, 6 (9) and 9 (1). A setlist (0x04) is full song records back to
// back with no terminator, so its end is decided by time: once its records are whole
// and the phone has been quiet for a moment, the caller calls quietTimeElapsed(). A
// trailing piece shorter than a song record that is itself a run of whole messages
// (a transport command written right after the setlist) is split off then.
class PhoneInputParser final
{
public:
    static constexpr qsizetype kMaxPending = 1024 * 1024;
    static constexpr quint8 kMidiRecord = 0x20;

    struct Message
    {
        enum class Kind
        {
            Midi,  // bytes: status, data 1, data 2
            ToLive // bytes: one whole client message, type byte first
        };
        Kind kind = Kind::ToLive;
        QByteArray bytes;
        friend bool operator==(const Message &, const Message &) = default;
    };

    enum class Fault
    {
        UnknownType, // the first byte starts no known message; pending input dropped
        BadMidi,     // a MIDI record that is not a MIDI message; pending input dropped
        BadSetlist,  // a setlist that cannot be whole; pending input dropped
        Overflow,    // more than kMaxPending bytes pending; the client must be dropped
        CutShort     // the phone hung up inside a message; pending input dropped
    };

    struct Result
    {
        QList<Message> messages;
        std::optional<Fault> fault;
        quint8 faultByte = 0; // the first byte of what was dropped
        // A setlist is at the front: call quietTimeElapsed() once the phone is quiet.
        bool awaitingQuiet = false;
    };

    Result feed(QByteArrayView bytes);
    // The phone has sent nothing for the quiet time: a pending setlist ends here.
    Result quietTimeElapsed();
    // The phone hung up: its end ends a pending setlist as the quiet time would; what
    // is still not whole then (a record or message cut short) is dropped. Leaves the
    // parser clear.
    Result connectionEnded();
    void clear();
    qsizetype pending() const { return m_pending.size(); }

    // Everything at once, then the quiet time: the entry point for fuzzing.
    static Result parseAll(QByteArrayView bytes);

    // Size of the client message starting with this type byte; none for a setlist
    // or an unknown type.
    static std::optional<qsizetype> fixedSize(quint8 type);

private:
    enum class Setlist
    {
        Cut,   // the last record is incomplete
        Whole, // the records end exactly at the end of the buffer
        Bad    // a text that is not UTF-8
    };
    struct SetlistScan
    {
        Setlist state = Setlist::Whole;
        qsizetype wholeEnd = 1; // end of the last whole record
    };

    Result drain(bool quiet);
    SetlistScan scanSetlist(QByteArrayView bytes);
    static bool isRunOfMessages(QByteArrayView bytes);
    static bool isMidiMessage(QByteArrayView record);

    QByteArray m_pending;
    // Where the scan of a setlist at the front stopped: each byte is scanned once,
    // so a setlist written a byte at a time costs no more than one written whole.
    qsizetype m_setlistWholeEnd = 1;
};
