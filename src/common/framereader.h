// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Cuts the server's byte stream into frames (4-byte big-endian length, 1 to 4096
// payload bytes), whatever the chunking. A bad length cannot be resynchronised:
// the reader stays failed and the connection must be dropped.
class FrameReader final
{
public:
    enum class Status
    {
        Frame,
        NeedMore,
        BadLength
    };

    struct Result
    {
        Status status = Status::NeedMore;
        QByteArray payload; // with Status::Frame
        quint32 length = 0; // the announced length, with Status::BadLength
    };

    void feed(QByteArrayView bytes);
    Result next();

    bool failed() const { return m_failed; }
    qsizetype buffered() const { return m_buffer.size() - m_offset; }
    void clear();

private:
    QByteArray m_buffer;
    qsizetype m_offset = 0;
    bool m_failed = false;
    quint32 m_badLength = 0;
};
