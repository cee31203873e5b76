// SPDX-License-Identifier: MIT
#include "midiemitter.h"

#include "log.h"

namespace {

QString decimalList(QByteArrayView bytes)
{
    QStringList numbers;
    for (const char b : bytes)
        numbers.append(QString::number(quint8(b)));
    return u'[' + numbers.join(QStringLiteral(", ")) + u']';
}

} // namespace

void MIDIEmitter::start()
{
    if (isReady())
        return;
    if (const int status = m_backend.clientStatus(); status != 0) {
        mlog::system(
            QStringLiteral("MIDIEmitter: MIDIClientCreateWithBlock failed (%1)").arg(status));
        return;
    }
    if (const int status = m_backend.openVirtualSource(QString::fromLatin1(sourceName));
        status != 0) {
        mlog::system(QStringLiteral("MIDIEmitter: MIDISourceCreate failed (%1)").arg(status));
        return;
    }
    m_ready.store(true, std::memory_order_release);
    mlog::system(QStringLiteral("MIDIEmitter: virtual source 'Marquell' created"));
}

void MIDIEmitter::send(quint8 status, quint8 data1, quint8 data2)
{
    if (!isReady()) {
        mlog::system(QStringLiteral("MIDIEmitter: dropping message, source not ready"));
        return;
    }
    const char bytes[3] = {char(status), char(data1), char(data2)};
    switch (m_backend.sendOnVirtualSource(QByteArrayView(bytes, 3))) {
    case MidiBackend::SendResult::Sent:
        break;
    case MidiBackend::SendResult::Rejected:
        mlog::system(QStringLiteral("MIDIEmitter: MIDIPacketListAdd rejected ") +
                     decimalList(QByteArrayView(bytes, 3)));
        break;
    case MidiBackend::SendResult::Failed:
        mlog::system(
            QStringLiteral("MIDIEmitter: MIDIReceived failed (%1)").arg(m_backend.lastStatus()));
        break;
    }
}

void MIDIEmitter::forward(const QByteArray &bytes)
{
    if (!isReady())
        return;
    switch (m_backend.sendOnVirtualSource(bytes)) {
    case MidiBackend::SendResult::Sent:
        break;
    case MidiBackend::SendResult::Rejected:
        mlog::system(QStringLiteral("MIDIEmitter: MIDIPacketListAdd rejected ") +
                     decimalList(bytes));
        break;
    case MidiBackend::SendResult::Failed:
        mlog::system(QStringLiteral("MIDIEmitter: MIDIReceived failed forwarding (%1)")
                         .arg(m_backend.lastStatus()));
        break;
    }
}
