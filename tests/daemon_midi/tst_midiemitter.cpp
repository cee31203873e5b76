// SPDX-License-Identifier: MIT
#include "fakemidibackend.h"
#include "log.h"
#include "midiemitter.h"

#include <QTest>

class TestMIDIEmitter final : public QObject
{
    Q_OBJECT

private slots:
    void failedStartLeavesItNotReady_data();
    void failedStartLeavesItNotReady();
    void bytesGoOutUnchanged_data();
    void bytesGoOutUnchanged();
    void refusedSendsAreLoggedOnce_data();
    void refusedSendsAreLoggedOnce();
};

void TestMIDIEmitter::failedStartLeavesItNotReady_data()
{
    QTest::addColumn<int>("clientStatus");
    QTest::addColumn<int>("openStatus");
    QTest::addColumn<QString>("line");
    QTest::newRow("no MIDI system")
        << -108 << 0 << "MIDIEmitter: MIDIClientCreateWithBlock failed (-108)";
    QTest::newRow("virtual source refused")
        << 0 << -103 << "MIDIEmitter: MIDISourceCreate failed (-103)";
}

void TestMIDIEmitter::failedStartLeavesItNotReady()
{
    QFETCH(int, clientStatus);
    QFETCH(int, openStatus);
    QFETCH(QString, line);
    mlog::Capture log;
    FakeMidiBackend backend;
    backend.setClientStatus(clientStatus);
    backend.setOpenStatus(openStatus);
    MIDIEmitter emitter(backend);
    emitter.start();

    QVERIFY(!emitter.isReady());
    QCOMPARE(log.systemLines(), QStringList{line});
    emitter.send(0x90, 60, 100);
    emitter.forward(QByteArray::fromHex("903c64")); // thru's drop is silent
    QVERIFY(backend.sent().isEmpty());
    QCOMPARE(log.systemLines(),
             (QStringList{line, "MIDIEmitter: dropping message, source not ready"}));
}

void TestMIDIEmitter::bytesGoOutUnchanged_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("note on") << QByteArray::fromHex("953c7f");
    QTest::newRow("velocity 0") << QByteArray::fromHex("903c00");
    // The emitter does not judge validity; the phone's bytes pass as they are.
    QTest::newRow("not valid MIDI") << QByteArray::fromHex("ff8080");
}

void TestMIDIEmitter::bytesGoOutUnchanged()
{
    QFETCH(QByteArray, bytes);
    mlog::Capture log;
    FakeMidiBackend backend;
    MIDIEmitter emitter(backend);
    emitter.start();
    emitter.start(); // a second start neither reopens nor logs
    QVERIFY(emitter.isReady());
    QCOMPARE(log.systemLines(), QStringList{"MIDIEmitter: virtual source 'Marquell' created"});

    emitter.send(quint8(bytes[0]), quint8(bytes[1]), quint8(bytes[2]));
    QCOMPARE(backend.sent(), QList<QByteArray>{bytes});
    QCOMPARE(log.systemLines().size(), 1);
}

void TestMIDIEmitter::refusedSendsAreLoggedOnce_data()
{
    QTest::addColumn<MidiBackend::SendResult>("result");
    QTest::addColumn<bool>("forwarding");
    QTest::addColumn<QString>("line");
    QTest::newRow("rejected") << MidiBackend::SendResult::Rejected << false
                              << "MIDIEmitter: MIDIPacketListAdd rejected [144, 60, 100]";
    QTest::newRow("failed") << MidiBackend::SendResult::Failed << false
                            << "MIDIEmitter: MIDIReceived failed (-7)";
    QTest::newRow("failed forwarding") << MidiBackend::SendResult::Failed << true
                                       << "MIDIEmitter: MIDIReceived failed forwarding (-7)";
}

void TestMIDIEmitter::refusedSendsAreLoggedOnce()
{
    QFETCH(MidiBackend::SendResult, result);
    QFETCH(bool, forwarding);
    QFETCH(QString, line);
    FakeMidiBackend backend;
    MIDIEmitter emitter(backend);
    emitter.start();
    mlog::Capture log;
    backend.setSendResult(result, -7);
    if (forwarding)
        emitter.forward(QByteArray::fromHex("903c64"));
    else
        emitter.send(0x90, 60, 100);
    QCOMPARE(log.systemLines(), QStringList{line});
    QVERIFY(backend.sent().isEmpty());
}

QTEST_GUILESS_MAIN(TestMIDIEmitter)
#include "tst_midiemitter.moc"
