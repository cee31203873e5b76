// SPDX-License-Identifier: MIT
#pragma once

#include "song.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>
#include <variant>

// The Live link: framed messages from the Remote Script, unframed messages to it.
// Pure functions on bytes; the sockets only move them.
namespace livelink {

constexpr qsizetype kMaxPayload = 4096;
constexpr qsizetype kMaxTextBytes = 255;
constexpr quint8 kSetlistSeparator = 0x04;

inline constexpr char kServerIdentity[] = "MARQUELL_SERVER";
inline constexpr char kClientIdentity[] = "MARQUELL_CLIENT";

enum class ServerType : quint8
{
    MidiMap = 0,
    PlayingState = 1,
    Notice = 2,
    SongPool = 3,
    SelectedIndex = 5,
    PingReply = 6,
    CueMode = 7,
    Tempo = 8,
    // Only to clients that subscribed (ClientType::Subscribe).
    SongPosition = 10,
    Sections = 11,
    SetlistMarks = 12,
};

enum class ClientType : quint8
{
    SetMapping = 0,
    TransportCommand = 1,
    ClearMapping = 2,
    SelectSetlistIndex = 3,
    Setlist = 4,
    PlaySongPoolSong = 5,
    Ping = 6,
    CueMode = 7,
    ClearAllMappings = 9,
    Subscribe = 10,
    JumpToSection = 11,
    SetStopAfter = 12,
};

// Features a client can subscribe to; the server sends types 10 to 12 only to subscribers.
enum SubscribeFeature : quint8
{
    NoFeatures = 0,
    SongPositionFeature = 0x01, // position, sections and setlist marks
};

constexpr quint8 kNoSection = 0xFF;

// Transport tags: the commands of type 1 and the tags of the mapping messages.
enum TransportTag : int
{
    NoTag = -1,
    Play = 1,
    Stop = 2,
    Previous = 3,
    Next = 4
};

// ---- handshake ---------------------------------------------------------------

// Strict UTF-8: invalid sequences give none instead of replacement characters.
std::optional<QString> decodeUtf8(QByteArrayView bytes);

// True when the payload is the server's identity, surrounding whitespace allowed.
bool isServerIdentity(QByteArrayView payload);

// The 15 bytes a client answers with: no length prefix, no line end.
QByteArray clientIdentityReply();

// ---- client -> server --------------------------------------------------------

QByteArray encodeByteMessage(quint8 value, ClientType type);
QByteArray encodeSetMapping(quint8 channel, quint8 msgType, quint16 identifier, quint8 tag);
QByteArray encodeTransportCommand(quint8 command);
QByteArray encodeClearMapping(quint8 tag);
QByteArray encodeSelectSetlistIndex(quint8 index);
// Names above 255 bytes are cut at a character boundary: the record has no other
// way to carry them, and an id without its name would corrupt the message.
QByteArray encodeSetlist(const QList<Song> &songs);
QByteArray encodePlaySongPoolSong(quint64 id);
QByteArray encodePing(quint64 clock);
QByteArray encodeCueMode(quint8 mode);
QByteArray encodeClearAllMappings();
QByteArray encodeSubscribe(quint8 features);
QByteArray encodeJumpToSection(quint64 songId, quint8 section);
QByteArray encodeSetStopAfter(quint64 songId, bool stopAfter);

// The longest prefix of the text whose UTF-8 form fits in maxBytes.
QByteArray utf8Prefix(const QString &text, qsizetype maxBytes);

// ---- server -> client --------------------------------------------------------

QByteArray frame(QByteArrayView payload); // 4-byte big-endian length, then payload

enum class Fault
{
    TooShort,    // shorter than its type's minimum size
    Truncated,   // a record runs past the end of the payload
    InvalidUtf8, // a text field is not UTF-8
};

struct Malformed
{
    quint8 type = 0;
    Fault fault = Fault::TooShort;
    friend bool operator==(const Malformed &, const Malformed &) = default;
};

struct MidiMapRecord
{
    QString name;
    quint8 msgType = 0;
    quint8 channel = 0;
    quint16 identifier = 0;
    friend bool operator==(const MidiMapRecord &, const MidiMapRecord &) = default;
};

struct MidiMap
{
    QList<MidiMapRecord> records; // in message order
};

struct PlayingState
{
    quint8 value = 0; // 1 playing, 2 stopped, anything else means nothing
};

struct Notice
{
};

enum class SetlistSection
{
    Absent,    // no 0x04 separator, or nothing after it
    Present,   // a setlist of at least one song
    Malformed, // a setlist record was cut or not UTF-8: the setlist must stay as it was
};

struct SongPoolUpdate
{
    QList<Song> pool;
    SetlistSection setlistSection = SetlistSection::Absent;
    bool setlistBytesFollow = false; // bytes came after the separator
    QList<Song> setlist;
};

struct SelectedIndex
{
    quint8 index = 0;
};

struct PingReply
{
    quint64 clock = 0;
};

struct CueMode
{
    quint8 mode = 0;
};

struct Tempo
{
    quint32 hundredths = 0; // beats per minute times 100
    float bpm() const { return static_cast<float>(hundredths) / 100.0f; }
};

struct SongPosition
{
    enum State : quint8
    {
        Playing = 0x01,
        StopsAfterSong = 0x02, // a STOP locator or a "stop after" mark ends playback here
        SectionJumpPending = 0x04,
    };
    quint64 songId = 0; // 0: no song at the play position
    quint32 elapsedMs = 0;
    quint32 lengthMs = 0;
    quint8 section = kNoSection;
    quint8 state = 0;
    quint8 pendingSection = kNoSection;
    bool playing() const { return state & Playing; }
    friend bool operator==(const SongPosition &, const SongPosition &) = default;
};

struct Section
{
    QString name;
    quint32 startMs = 0; // from the song's start
    quint32 lengthMs = 0;
    friend bool operator==(const Section &, const Section &) = default;
};

struct Sections
{
    quint64 songId = 0;
    QList<Section> sections;
};

struct SetlistMarks
{
    enum Mark : quint8
    {
        StopAfter = 0x01,   // the user's mark
        StopLocator = 0x02, // the song ends at a STOP locator
    };
    QList<quint8> entries; // one per setlist entry, in setlist order
};

struct UnknownMessage
{
    quint8 type = 0;
};

using ServerMessage =
    std::variant<MidiMap, PlayingState, Notice, SongPoolUpdate, SelectedIndex, PingReply, CueMode,
                 Tempo, SongPosition, Sections, SetlistMarks, UnknownMessage, Malformed>;

// Server-side encoders of the subscribers' messages, for test servers and benchmarks.
QByteArray encodeSongPosition(const SongPosition &position);
QByteArray encodeSections(const Sections &sections);
QByteArray encodeSetlistMarks(const SetlistMarks &marks);

// Decodes one payload (type byte first). Never reads past the buffer; an empty
// payload is Malformed{0, TooShort}.
ServerMessage decodeServerMessage(QByteArrayView payload);

// Reads one full song record (id, name, length text) at offset and advances it.
// On failure the offset is left unchanged.
std::optional<Song> readSongRecord(QByteArrayView bytes, qsizetype &offset, Fault *fault = nullptr);

// The structural walk of a MIDI map body, no text decoding: records must end
// exactly at the end of the payload.
bool isWellFormedMidiMap(QByteArrayView payload);

} // namespace livelink
