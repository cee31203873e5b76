// SPDX-License-Identifier: MIT
#include "fakemidibackend.h"
#include "log.h"
#include "midiemitter.h"

#include <QTest>

using Result = MidiBackend::SendResult;

class TestMIDIEmitter final : public QObject
{
    Q_OBJECT

private slots:
    void startAndSend_data();
    void startAndSend();
};

void TestMIDIEmitter::startAndSend_data()
{
    QTest::addColumn<int>("clientStatus");
    QTest::addColumn<int>("openStatus");
    QTest::addColumn<Result>("result");
    QTest::addColumn<bool>("forwarding"); // thru's path instead of the phone's
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("lines"); // after the start line(s)

    const QString created = "MIDIEmitter: virtual source 'Marquell' created";
    const QByteArray note = QByteArray::fromHex("953c7f");
    QTest::newRow("note on") << 0 << 0 << Result::Sent << false << note << QStringList{created};
    // The emitter does not judge validity; the phone's bytes pass as they are.
    QTest::newRow("not valid MIDI")
        << 0 << 0 << Result::Sent << false << QByteArray::fromHex("ff8080") << QStringList{created};
    QTest::newRow("forwarded") << 0 << 0 << Result::Sent << true << note << QStringList{created};
    QTest::newRow("rejected") << 0 << 0 << Result::Rejected << false << note
                              << QStringList{
                                     created,
                                     "MIDIEmitter: MIDIPacketListAdd rejected [149, 60, 127]"};
    QTest::newRow("failed") << 0 << 0 << Result::Failed << false << note
                            << QStringList{created, "MIDIEmitter: MIDIReceived failed (-7)"};
    QTest::newRow("failed forwarding")
        << 0 << 0 << Result::Failed << true << note
        << QStringList{created, "MIDIEmitter: MIDIReceived failed forwarding (-7)"};
    QTest::newRow("no MIDI system")
        << -108 << 0 << Result::Sent << false << note
        << QStringList{"MIDIEmitter: MIDIClientCreateWithBlock failed (-108)",
                       "MIDIEmitter: dropping message, source not ready"};
    QTest::newRow("source refused, forwarding is dropped silently")
        << 0 << -103 << Result::Sent << true << note
        << QStringList{"MIDIEmitter: MIDISourceCreate failed (-103)"};
}

void TestMIDIEmitter::startAndSend()
{
    QFETCH(int, clientStatus);
    QFETCH(int, openStatus);
    QFETCH(Result, result);
    QFETCH(bool, forwarding);
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, lines);
    mlog::Capture log;
    FakeMidiBackend backend;
    backend.setClientStatus(clientStatus);
    backend.setOpenStatus(openStatus);
    backend.setSendResult(result, -7);
    MIDIEmitter emitter(backend);
    emitter.start();

    if (forwarding)
        emitter.forward(bytes);
    else
        emitter.send(quint8(bytes[0]), quint8(bytes[1]), quint8(bytes[2]));
    const bool delivered = emitter.isReady() && result == Result::Sent;
    QCOMPARE(backend.sent(), delivered ? QList<QByteArray>{bytes} : QList<QByteArray>{});
    QCOMPARE(log.systemLines(), lines);
}

QTEST_GUILESS_MAIN(TestMIDIEmitter)
#include "tst_midiemitter.moc"
