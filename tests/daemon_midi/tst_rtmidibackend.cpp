// SPDX-License-Identifier: MIT
// RtMidiBackend against a real JACK server and a second JACK client (midipeer).
#include "midipeerprocess.h"
#include "midiportid.h"
#include "rtmidibackend.h"

#include <QFile>
#include <QMutex>
#include <QSignalSpy>
#include <QTest>

namespace {

std::optional<MidiSourceInfo> findSource(const MidiBackend &backend, const QString &name)
{
    for (const MidiSourceInfo &s : backend.sources())
        if (s.name == name)
            return s;
    return std::nullopt;
}

} // namespace

class TestRtMidiBackend final : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void noServerIsReportedNotFatal();
    void factoryPicksAnOpenableApi_data();
    void factoryPicksAnOpenableApi();
    void sourceListedDeliveredAndUnplugged();
};

void TestRtMidiBackend::init()
{
    if (QByteArray(QTest::currentTestFunction()) == "noServerIsReportedNotFatal")
        return;
    if (!MidiPeerProcess::jackRunning())
        QSKIP("no JACK server answers (scripts/test starts a private one)");
}

// JACK constructs without a server and fails later: that must read as "no MIDI".
void TestRtMidiBackend::noServerIsReportedNotFatal()
{
    const QByteArray saved = qgetenv("JACK_DEFAULT_SERVER");
    qputenv("JACK_DEFAULT_SERVER", "marquell-no-such-server");
    RtMidiBackend backend(RtMidi::UNIX_JACK, QStringLiteral("NoServer"));
    qputenv("JACK_DEFAULT_SERVER", saved);

    QVERIFY(backend.clientStatus() != 0);
    QCOMPARE(backend.apiName(), QStringLiteral("none"));
    QVERIFY(backend.sources().isEmpty());
    QVERIFY(backend.openVirtualSource(QStringLiteral("Marquell")) != 0);
    QCOMPARE(backend.sendOnVirtualSource(QByteArray("\x90\x3c\x64", 3)),
             MidiBackend::SendResult::Failed);
    QVERIFY(backend.connectSource(1234) != 0);
}

void TestRtMidiBackend::factoryPicksAnOpenableApi_data()
{
    QTest::addColumn<QByteArray>("forced");
    QTest::addColumn<QString>("expected");
    const bool alsa = QFile::exists(QStringLiteral("/dev/snd/seq"));
    QTest::newRow("automatic") << QByteArray() << (alsa ? "ALSA" : "JACK");
    QTest::newRow("forced jack") << QByteArray("jack") << "JACK";
    QTest::newRow("forced alsa") << QByteArray("alsa") << (alsa ? "ALSA" : "none");
    QTest::newRow("unknown name") << QByteArray("bogus") << (alsa ? "ALSA" : "JACK");
}

// ALSA's constructor throws where there is no sequencer; JACK must be tried then.
void TestRtMidiBackend::factoryPicksAnOpenableApi()
{
    QFETCH(QByteArray, forced);
    QFETCH(QString, expected);
    qputenv("MARQUELL_MIDI_API", forced);
    const auto backend = createMidiBackend(QStringLiteral("FactoryTest"));
    qunsetenv("MARQUELL_MIDI_API");
    QCOMPARE(backend->apiName(), expected);
    QCOMPARE(backend->clientStatus() == 0, expected != u"none");
}

// A device's life: listed under a stable ID, its bytes delivered whole and unfiltered
// (RtMidi drops SysEx and clock unless told not to), then unplugged and back.
void TestRtMidiBackend::sourceListedDeliveredAndUnplugged()
{
    RtMidiBackend backend(RtMidi::UNIX_JACK, QStringLiteral("BackendTest"));
    QMutex mutex;
    QList<QByteArray> received;
    QList<qint32> senders;
    backend.setInputHandler([&](qint32 id, const QByteArray &bytes) {
        QMutexLocker lock(&mutex);
        received.append(bytes);
        senders.append(id);
    });
    const auto arrived = [&] {
        QMutexLocker lock(&mutex);
        return received;
    };
    const QString name = QStringLiteral("Pedal:Pedal");
    auto peer = std::make_unique<MidiPeerProcess>();
    QVERIFY(peer->start({QStringLiteral("send"), QStringLiteral("Pedal")}));
    QTRY_VERIFY_WITH_TIMEOUT(findSource(backend, name), 3000);
    const qint32 id = findSource(backend, name)->uniqueID;
    QCOMPARE(id, midiportid::forName(name));
    // Another process (a restart) sees the same identity.
    QCOMPARE(findSource(RtMidiBackend(RtMidi::UNIX_JACK, QStringLiteral("Again")), name)->uniqueID,
             id);

    QCOMPARE(backend.connectSource(id), 0);
    QCOMPARE(backend.connectSource(id), 0); // already connected counts as success
    QCOMPARE(backend.connectedSources(), QList<qint32>{id});
    QCOMPARE(backend.connectSource(midiportid::forName(QStringLiteral("No:One"))),
             RtMidiBackend::noSuchSource);
    // JACK applies a connection at a cycle boundary: wait until a probe comes through.
    QVERIFY(QTest::qWaitFor(
        [&] {
            peer->sendHex(QByteArray::fromHex("fe"));
            return QTest::qWaitFor([&] { return !arrived().isEmpty(); }, 50);
        },
        5000));
    QByteArray sysex(200, '\x11');
    sysex[0] = char(0xf0);
    sysex[199] = char(0xf7);
    const QList<QByteArray> messages{QByteArray::fromHex("903c64"), QByteArray::fromHex("b10700"),
                                     QByteArray::fromHex("f8"), sysex};
    for (const QByteArray &m : messages)
        peer->sendHex(m);
    QTRY_COMPARE_WITH_TIMEOUT(arrived().mid(arrived().lastIndexOf(QByteArray::fromHex("fe")) + 1),
                              messages, 3000);
    QVERIFY(std::all_of(senders.cbegin(), senders.cend(), [&](qint32 s) { return s == id; }));

    QSignalSpy changed(&backend, &MidiBackend::sourcesChanged);
    QVERIFY(peer->finish());
    QTRY_COMPARE_WITH_TIMEOUT(changed.count(), 1, 3000);
    QVERIFY(!findSource(backend, name));
    // The stale input is closed, so the device is connected anew when it returns.
    QVERIFY(backend.connectedSources().isEmpty());

    peer = std::make_unique<MidiPeerProcess>();
    QVERIFY(peer->start({QStringLiteral("send"), QStringLiteral("Pedal")}));
    QTRY_COMPARE_WITH_TIMEOUT(changed.count(), 2, 3000);
    QCOMPARE(findSource(backend, name)->uniqueID, id);
}

QTEST_GUILESS_MAIN(TestRtMidiBackend)
#include "tst_rtmidibackend.moc"
