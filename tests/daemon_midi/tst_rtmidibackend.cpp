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

// What the input handler saw, from RtMidi's thread.
struct Received
{
    mutable QMutex mutex;
    QList<QPair<qint32, QByteArray>> messages;

    void add(qint32 id, const QByteArray &bytes)
    {
        QMutexLocker lock(&mutex);
        messages.append({id, bytes});
    }
    QList<QPair<qint32, QByteArray>> all() const
    {
        QMutexLocker lock(&mutex);
        return messages;
    }
};

std::optional<MidiSourceInfo> findSource(const MidiBackend &backend, const QString &part)
{
    for (const MidiSourceInfo &s : backend.sources())
        if (s.name.contains(part))
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
    void peerSourceListedWithStableID();
    void connectedSourceDeliversBytes_data();
    void connectedSourceDeliversBytes();
    void unknownIDConnectsNothing();
    void peerExitDropsSourceAndConnection();
    void virtualSourceIsListedAndHeard();

private:
    std::unique_ptr<MidiPeerProcess> startPeer(const QString &name);
};

void TestRtMidiBackend::init()
{
    if (QByteArray(QTest::currentTestFunction()) == "noServerIsReportedNotFatal")
        return;
    if (!MidiPeerProcess::jackRunning())
        QSKIP("no JACK server answers (scripts/test starts a private one)");
}

std::unique_ptr<MidiPeerProcess> TestRtMidiBackend::startPeer(const QString &name)
{
    auto peer = std::make_unique<MidiPeerProcess>();
    if (!peer->start({QStringLiteral("send"), name}))
        return nullptr;
    return peer;
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
    QVERIFY(!backend.virtualSourceID());
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

void TestRtMidiBackend::peerSourceListedWithStableID()
{
    RtMidiBackend backend(RtMidi::UNIX_JACK, QStringLiteral("ListTest"));
    QCOMPARE(backend.apiName(), QStringLiteral("JACK"));
    QSignalSpy changed(&backend, &MidiBackend::sourcesChanged);
    const auto peer = startPeer(QStringLiteral("PeerList"));
    QVERIFY(peer);
    QTRY_VERIFY_WITH_TIMEOUT(findSource(backend, QStringLiteral("PeerList")), 3000);
    QVERIFY(changed.count() >= 1);

    const MidiSourceInfo seen = *findSource(backend, QStringLiteral("PeerList"));
    QCOMPARE(seen.name, QStringLiteral("PeerList:PeerList"));
    QCOMPARE(seen.uniqueID, midiportid::forName(seen.name));
    // A second process's view (a restart) gives the same identity.
    RtMidiBackend other(RtMidi::UNIX_JACK, QStringLiteral("ListTest2"));
    const auto again = findSource(other, QStringLiteral("PeerList"));
    QVERIFY(again);
    QCOMPARE(again->uniqueID, seen.uniqueID);
}

void TestRtMidiBackend::connectedSourceDeliversBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("note on") << QByteArray::fromHex("903c64");
    QTest::newRow("control change value 0") << QByteArray::fromHex("b10700");
    QTest::newRow("program change") << QByteArray::fromHex("c205");
    QTest::newRow("clock") << QByteArray::fromHex("f8");
    QByteArray sysex(200, '\x11');
    sysex[0] = char(0xf0);
    sysex[199] = char(0xf7);
    QTest::newRow("sysex of 200 bytes") << sysex;
}

// Bytes pass whole and unfiltered (RtMidi drops SysEx and clock unless told not to).
void TestRtMidiBackend::connectedSourceDeliversBytes()
{
    QFETCH(QByteArray, bytes);
    RtMidiBackend backend(RtMidi::UNIX_JACK, QStringLiteral("DeliverTest"));
    Received received;
    backend.setInputHandler([&](qint32 id, const QByteArray &b) { received.add(id, b); });
    // A fresh name per row: JACK renames a client whose predecessor is still leaving.
    static int row = 0;
    const QString name = QStringLiteral("PeerDeliver%1").arg(++row);
    const auto peer = startPeer(name);
    QVERIFY(peer);
    QTRY_VERIFY_WITH_TIMEOUT(findSource(backend, name + u':'), 3000);
    const qint32 id = findSource(backend, name + u':')->uniqueID;

    QCOMPARE(backend.connectSource(id), 0);
    QCOMPARE(backend.connectSource(id), 0); // already connected counts as success
    QCOMPARE(backend.connectedSources(), QList<qint32>{id});
    peer->sendHex(bytes);
    QTRY_COMPARE_WITH_TIMEOUT(received.all().size(), 1, 3000);
    QCOMPARE(received.all().first().first, id);
    QCOMPARE(received.all().first().second.toHex(' '), bytes.toHex(' '));

    backend.disconnectSource(id);
    QVERIFY(backend.connectedSources().isEmpty());
}

void TestRtMidiBackend::unknownIDConnectsNothing()
{
    RtMidiBackend backend(RtMidi::UNIX_JACK, QStringLiteral("UnknownTest"));
    QCOMPARE(backend.connectSource(midiportid::forName(QStringLiteral("nobody:here"))),
             RtMidiBackend::noSuchSource);
    QVERIFY(backend.connectedSources().isEmpty());
}

// An unplugged device is announced, and its stale input closed so it can return.
void TestRtMidiBackend::peerExitDropsSourceAndConnection()
{
    RtMidiBackend backend(RtMidi::UNIX_JACK, QStringLiteral("ExitTest"));
    auto peer = startPeer(QStringLiteral("PeerExit"));
    QVERIFY(peer);
    QTRY_VERIFY_WITH_TIMEOUT(findSource(backend, QStringLiteral("PeerExit")), 3000);
    const qint32 id = findSource(backend, QStringLiteral("PeerExit"))->uniqueID;
    QCOMPARE(backend.connectSource(id), 0);

    QSignalSpy changed(&backend, &MidiBackend::sourcesChanged);
    QVERIFY(peer->finish());
    QTRY_COMPARE_WITH_TIMEOUT(changed.count(), 1, 3000);
    QVERIFY(!findSource(backend, QStringLiteral("PeerExit")));
    QVERIFY(backend.connectedSources().isEmpty());

    // Nothing changes while nothing changes: the poll stays quiet.
    QTest::qWait(1500);
    QCOMPARE(changed.count(), 1);

    peer = startPeer(QStringLiteral("PeerExit"));
    QVERIFY(peer);
    QTRY_VERIFY_WITH_TIMEOUT(findSource(backend, QStringLiteral("PeerExit")), 3000);
    QCOMPARE(findSource(backend, QStringLiteral("PeerExit"))->uniqueID, id);
}

void TestRtMidiBackend::virtualSourceIsListedAndHeard()
{
    RtMidiBackend backend(RtMidi::UNIX_JACK, QStringLiteral("VirtualTest"));
    QCOMPARE(backend.openVirtualSource(QStringLiteral("Marquell")), 0);
    QVERIFY(backend.virtualSourceID());
    const auto own = findSource(backend, QStringLiteral("VirtualTest:Marquell"));
    QVERIFY(own);
    QCOMPARE(own->uniqueID, *backend.virtualSourceID());

    MidiPeerProcess listener;
    QVERIFY(listener.start({QStringLiteral("listen"), QStringLiteral("VirtualTest:Marquell")}));
    QCOMPARE(backend.sendOnVirtualSource(QByteArray::fromHex("903c64")),
             MidiBackend::SendResult::Sent);
    QCOMPARE(backend.sendOnVirtualSource({}), MidiBackend::SendResult::Rejected);
    QTRY_COMPARE_WITH_TIMEOUT(listener.lines(), QStringList{QStringLiteral("90 3c 64")}, 3000);
}

QTEST_GUILESS_MAIN(TestRtMidiBackend)
#include "tst_rtmidibackend.moc"
