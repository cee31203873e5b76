// SPDX-License-Identifier: MIT
#include "framereader.h"

#include "livelinkcodec.h"

#include <QtEndian>

void FrameReader::feed(QByteArrayView bytes)
{
    if (m_failed)
        return;
    // Drop what was consumed before growing, so the buffer holds at most one
    // partial frame plus the new bytes.
    if (m_offset > 0) {
        m_buffer.remove(0, m_offset);
        m_offset = 0;
    }
    m_buffer.append(bytes);
}

FrameReader::Result FrameReader::next()
{
    if (m_failed)
        return {Status::BadLength, {}, m_badLength};
    const qsizetype available = m_buffer.size() - m_offset;
    if (available < 4)
        return {};
    const quint32 length = qFromBigEndian<quint32>(m_buffer.constData() + m_offset);
    if (length == 0 || length > livelink::kMaxPayload) {
        m_failed = true;
        m_badLength = length;
        m_buffer.clear();
        m_offset = 0;
        return {Status::BadLength, {}, length};
    }
    if (available - 4 < static_cast<qsizetype>(length))
        return {};
    Result result{Status::Frame, m_buffer.mid(m_offset + 4, length), length};
    m_offset += 4 + length;
    if (m_offset == m_buffer.size()) {
        m_buffer.clear();
        m_offset = 0;
    }
    return result;
}

void FrameReader::clear()
{
    m_buffer.clear();
    m_offset = 0;
    m_failed = false;
    m_badLength = 0;
}
