// SPDX-License-Identifier: MIT
#include "phoneinputparser.h"

#include "livelinkcodec.h"

namespace {

quint8 byteAt(QByteArrayView bytes, qsizetype index)
{
    return static_cast<quint8>(bytes[index]);
}

} // namespace

std::optional<qsizetype> PhoneInputParser::fixedSize(quint8 type)
{
    switch (type) {
    case kMidiRecord:
        return 4;
    case quint8(livelink::ClientType::SetMapping):
        return 6;
    case quint8(livelink::ClientType::TransportCommand):
    case quint8(livelink::ClientType::ClearMapping):
    case quint8(livelink::ClientType::SelectSetlistIndex):
    case quint8(livelink::ClientType::CueMode):
        return 2;
    case quint8(livelink::ClientType::PlaySongPoolSong):
    case quint8(livelink::ClientType::Ping):
        return 9;
    case quint8(livelink::ClientType::ClearAllMappings):
        return 1;
    default:
        return std::nullopt;
    }
}

PhoneInputParser::Result PhoneInputParser::feed(QByteArrayView bytes)
{
    m_pending.append(bytes);
    return drain(false);
}

PhoneInputParser::Result PhoneInputParser::quietTimeElapsed()
{
    return drain(true);
}

PhoneInputParser::Result PhoneInputParser::connectionEnded()
{
    Result result = drain(true);
    if (!result.fault && !m_pending.isEmpty()) {
        // A setlist missing its last songs would replace the whole one in Live.
        result.fault = Fault::CutShort;
        result.faultByte = byteAt(m_pending, 0);
    }
    result.awaitingQuiet = false;
    clear();
    return result;
}

PhoneInputParser::Result PhoneInputParser::parseAll(QByteArrayView bytes)
{
    PhoneInputParser parser;
    Result result = parser.feed(bytes);
    if (result.fault)
        return result;
    Result rest = parser.quietTimeElapsed();
    result.messages += rest.messages;
    result.fault = rest.fault;
    result.faultByte = rest.faultByte;
    result.awaitingQuiet = false;
    return result;
}

void PhoneInputParser::clear()
{
    m_pending.clear();
    m_setlistWholeEnd = 1;
}

PhoneInputParser::Result PhoneInputParser::drain(bool quiet)
{
    Result result;
    // Messages are taken by moving a cursor; the buffer is compacted once at the end,
    // so a chunk of many small messages costs one pass.
    qsizetype head = 0;
    auto fail = [&](Fault fault) {
        result.fault = fault;
        result.faultByte = byteAt(m_pending, head);
        clear();
        return result;
    };
    auto take = [&](qsizetype count, Message::Kind kind, qsizetype from, qsizetype size) {
        result.messages.append({kind, m_pending.sliced(head + from, size)});
        head += count;
        m_setlistWholeEnd = 1;
    };

    while (head < m_pending.size()) {
        const QByteArrayView rest = QByteArrayView(m_pending).sliced(head);
        const quint8 type = byteAt(rest, 0);
        if (type == quint8(livelink::ClientType::Setlist)) {
            const SetlistScan scan = scanSetlist(rest);
            if (scan.state == Setlist::Bad)
                return fail(Fault::BadSetlist);
            if (!quiet) {
                result.awaitingQuiet = true;
                break;
            }
            if (scan.state == Setlist::Whole) {
                take(rest.size(), Message::Kind::ToLive, 0, rest.size());
                break;
            }
            // Cut: either messages written right after the setlist, or a record
            // still on its way (then wait for its bytes, which re-arm the quiet time).
            if (!isRunOfMessages(rest.sliced(scan.wholeEnd)))
                break;
            take(scan.wholeEnd, Message::Kind::ToLive, 0, scan.wholeEnd);
            continue;
        }

        const std::optional<qsizetype> size = fixedSize(type);
        if (!size)
            return fail(Fault::UnknownType);
        if (rest.size() < *size)
            break;
        if (type == kMidiRecord) {
            if (!isMidiMessage(rest.first(4)))
                return fail(Fault::BadMidi);
            take(4, Message::Kind::Midi, 1, 3);
        } else {
            take(*size, Message::Kind::ToLive, 0, *size);
        }
    }

    m_pending.remove(0, head);
    if (m_pending.size() > kMaxPending) {
        head = 0;
        return fail(Fault::Overflow);
    }
    return result;
}

PhoneInputParser::SetlistScan PhoneInputParser::scanSetlist(QByteArrayView bytes)
{
    qsizetype offset = m_setlistWholeEnd;
    while (offset < bytes.size()) {
        livelink::Fault fault = livelink::Fault::Truncated;
        if (!livelink::readSongRecord(bytes, offset, &fault)) {
            m_setlistWholeEnd = offset;
            return {fault == livelink::Fault::InvalidUtf8 ? Setlist::Bad : Setlist::Cut, offset};
        }
    }
    m_setlistWholeEnd = offset;
    return {Setlist::Whole, offset};
}

bool PhoneInputParser::isRunOfMessages(QByteArrayView bytes)
{
    qsizetype offset = 0;
    while (offset < bytes.size()) {
        const std::optional<qsizetype> size = fixedSize(byteAt(bytes, offset));
        if (!size || bytes.size() - offset < *size)
            return false;
        if (byteAt(bytes, offset) == kMidiRecord && !isMidiMessage(bytes.sliced(offset, 4)))
            return false;
        offset += *size;
    }
    return offset > 0;
}

bool PhoneInputParser::isMidiMessage(QByteArrayView record)
{
    const quint8 status = byteAt(record, 1);
    // SysEx cannot fit three bytes; 0xF4, 0xF5, 0xF9 and 0xFD are undefined.
    const bool knownStatus = (status >= 0x80 && status <= 0xEF) || status == 0xF1 ||
                             status == 0xF2 || status == 0xF3 || status == 0xF6 || status == 0xF8 ||
                             status == 0xFA || status == 0xFB || status == 0xFC || status == 0xFE ||
                             status == 0xFF;
    return knownStatus && byteAt(record, 2) < 0x80 && byteAt(record, 3) < 0x80;
}
