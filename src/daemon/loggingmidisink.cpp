// SPDX-License-Identifier: MIT
#include "loggingmidisink.h"

#include "log.h"

void LoggingMidiSink::send(quint8 status, quint8 data1, quint8 data2)
{
    const char raw[] = {char(status), char(data1), char(data2)};
    const QByteArray bytes(raw, 3);
    mlog::system(QStringLiteral("MIDI from iOS (no emitter yet): ") +
                 QString::fromLatin1(bytes.toHex(' ')));
}
