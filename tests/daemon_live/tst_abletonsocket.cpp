// SPDX-License-Identifier: MIT
#include "abletonsocket.h"
#include "daemonstatecache.h"
#include "livebytes.h"
#include "log.h"
#include "recordingphone.h"
#include "scriptedliveserver.h"

#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace livebytes;
using namespace std::chrono_literals;

namespace {

const QByteArray kClientReply = QByteArrayLiteral("MARQUELL_CLIENT");
const QByteArray kSentinel = bytes({2}); // a notice: reaches the phone as [02]

// A daemon Live link with fast timers, attached to a scripted server.
struct Rig
{
    Rig() : cache(phone), socket(cache, phone, AbletonSocket::Timing{50ms, 100ms}) {}

    RecordingPhone phone;
    DaemonStateCache cache;
    AbletonSocket socket;
    ScriptedLiveServer server;
    QSignalSpy states{&socket, &AbletonSocket::connectionStateChanged};
    QSignalSpy connected{&socket, &AbletonSocket::isConnectedChanged};

    ConnectionState lastState() const
    {
        return states.isEmpty() ? ConnectionState::failed("nothing published")
                                : states.last().at(0).value<ConnectionState>();
    }
    QList<ConnectionState> allStates() const
    {
        QList<ConnectionState> out;
        for (const QList<QVariant> &args : states)
            out.append(args.at(0).value<ConnectionState>());
        return out;
    }

    // Connects, answers the handshake, and forgets the handshake's traces.
    bool validate(mlog::Capture &log)
    {
        socket.connectToLive(server.port());
        if (!QTest::qWaitFor([&] { return server.hasClient(); }))
            return false;
        server.writeIdentity();
        if (!QTest::qWaitFor([&] { return server.received() == kClientReply; }))
            return false;
        server.takeReceived();
        log.clear();
        states.clear();
        connected.clear();
        return socket.serverValidated();
    }

    // Frames are handled in order, so once the sentinel has reached the phone
    // everything written before it has been handled.
    bool settle()
    {
        server.writeFrame(kSentinel);
        if (!QTest::qWaitFor(
                [&] { return !phone.sent.isEmpty() && phone.sent.last() == kSentinel; }))
            return false;
        phone.sent.removeLast();
        return true;
    }
};

using Field = std::optional<QByteArray> MarquellState::*;

} // namespace

class TestAbletonSocket : public QObject
{
    Q_OBJECT

private slots:
    void handshake_data()
    {
        QTest::addColumn<QByteArray>("firstFrame");
        QTest::addColumn<bool>("valid");
        QTest::newRow("identity") << QByteArray("\x00\x00\x00\x0F"
                                                "MARQUELL_SERVER",
                                                19)
                                  << true;
        QTest::newRow("identity in whitespace") << frame(" MARQUELL_SERVER\r\n") << true;
        QTest::newRow("identity and another character") << frame("MARQUELL_SERVERX") << false;
        QTest::newRow("the client's identity") << frame("MARQUELL_CLIENT") << false;
    }
    void handshake()
    {
        QFETCH(QByteArray, firstFrame);
        QFETCH(bool, valid);
        mlog::Capture log;
        Rig rig;
        rig.socket.connectToLive(rig.server.port());
        QTRY_VERIFY(rig.server.hasClient());
        QTRY_COMPARE(rig.lastState(), ConnectionState::connected());
        QVERIFY(rig.socket.isConnected());
        rig.server.write(firstFrame);
        if (valid) {
            QTRY_COMPARE(rig.server.received(), kClientReply);
            QVERIFY(rig.socket.serverValidated());
            QCOMPARE(log.messages(), (QStringList{"Server validated", "Data sent"}));
        } else {
            QTRY_COMPARE(rig.lastState(), ConnectionState::disconnected());
            QCOMPARE(log.messages(),
                     (QStringList{"Invalid server ID", "Cancelled connection to Live"}));
            QVERIFY(!rig.socket.isConnected());
            QTRY_VERIFY(!rig.server.hasClient());
            QCOMPARE(rig.server.received(), QByteArray());
        }
    }

    void payloadLengths_data()
    {
        QTest::addColumn<quint32>("length");
        QTest::addColumn<bool>("read");
        QTest::newRow("4096") << 4096u << true;
        QTest::newRow("1") << 1u << true;
        QTest::newRow("4097") << 4097u << false;
        QTest::newRow("0") << 0u << false;
        QTest::newRow("0xFFFFFFFF") << 0xFFFFFFFFu << false;
    }
    // A valid frame is read whole even when its length prefix and payload arrive in
    // pieces; an invalid length stops reading and ends the connection, so Live is
    // sought again.
    void payloadLengths()
    {
        QFETCH(quint32, length);
        QFETCH(bool, read);
        mlog::Capture log;
        Rig rig;
        QVERIFY(rig.validate(log));
        // A song pool payload of exactly that length, or a bare bad length prefix.
        const QByteArray payload =
            QByteArray(1, 3) + QByteArray(qMin(length, 5000u) - qMin(length, 1u), 'x');
        char prefix[4];
        qToBigEndian(length, prefix);
        if (read) {
            const QByteArray wire = QByteArray(prefix, 4) + payload;
            rig.server.write(wire.first(2));
            QTest::qWait(2); // let each piece travel on its own
            rig.server.write(wire.sliced(2, wire.size() - 3));
            QTest::qWait(2);
            QVERIFY(rig.phone.sent.isEmpty());
            rig.server.write(wire.last(1));
            QTRY_COMPARE(rig.phone.sent, QList<QByteArray>{payload});
            QCOMPARE(rig.cache.currentState().songData, std::optional<QByteArray>(payload));
            QVERIFY(rig.socket.isConnected());
            return;
        }
        rig.server.write(QByteArray(prefix, 4) +
                         payload.first(qMin<qsizetype>(payload.size(), 100)));
        QTRY_COMPARE(rig.lastState(), ConnectionState::disconnected());
        QCOMPARE(log.messages(),
                 (QStringList{QStringLiteral("Invalid payload length: %1").arg(length),
                              "Cancelled connection to Live"}));
        QVERIFY(!rig.socket.isConnected());
        rig.server.writeFrame(bytes({8, 0, 0, 0x2f, 0x12}));
        QTRY_VERIFY(!rig.server.hasClient());
        QVERIFY(rig.phone.sent.isEmpty());
        QVERIFY(!rig.cache.currentState().bpm);
    }

    void dispatch_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QList<QByteArray>>("toPhone");
        QTest::addColumn<QString>("label"); // of the cached send, if any
        QTest::addColumn<QString>("field"); // the state field it is stored in, if any
        QTest::addColumn<QStringList>("lines");

        const QByteArray midiMap = bytes({0, 3, 'a', 'b', 'c', 1, 2, 0, 5});
        using L = QList<QByteArray>;
        QTest::newRow("type 0") << midiMap << L{midiMap} << "MIDI mappings"
                                << "midiMapInit" << QStringList();
        QTest::newRow("type 0 one byte short") << midiMap.chopped(1) << L{} << ""
                                               << "" << QStringList();
        QTest::newRow("type 0 without records") << bytes({0}) << L{bytes({0})} << "MIDI mappings"
                                                << "midiMapInit" << QStringList();
        QTest::newRow("type 1") << bytes({1, 1, 0xff}) << L{bytes({1, 1})} << ""
                                << "" << QStringList();
        QTest::newRow("type 1 short") << bytes({1}) << L{} << ""
                                      << "" << QStringList();
        QTest::newRow("type 2") << bytes({2, 7, 7}) << L{bytes({2})} << ""
                                << "" << QStringList();
        const QByteArray songs = QByteArray(1, 3) + song(1, "A", "1:00") + char(4);
        QTest::newRow("type 3") << songs << L{songs} << "SongPool + Setlist"
                                << "songData" << QStringList();
        QTest::newRow("type 3 not validated")
            << bytes({3, 9}) << L{bytes({3, 9})} << "SongPool + Setlist"
            << "songData" << QStringList();
        QTest::newRow("type 5") << bytes({5, 3}) << L{bytes({5, 3})} << "Selected Index"
                                << "selectedIndex" << QStringList{"🔁 Setlist Index Update"};
        QTest::newRow("type 5 short") << bytes({5}) << L{} << ""
                                      << "" << QStringList{"🔁 Setlist Index Update"};
        QTest::newRow("type 7") << bytes({7, 2}) << L{bytes({7, 2})} << "Cue Jump Mode"
                                << "cueJumpMode" << QStringList();
        QTest::newRow("type 7 short") << bytes({7}) << L{} << ""
                                      << "" << QStringList();
        QTest::newRow("type 8") << bytes({8, 0, 0, 0x2f, 0x12}) << L{bytes({8, 0, 0, 0x2f, 0x12})}
                                << "Beats per Minute"
                                << "bpm" << QStringList();
        QTest::newRow("type 8 short") << bytes({8, 0, 0, 0x2f}) << L{} << ""
                                      << "" << QStringList();
        QTest::newRow("type 4") << bytes({4, 1}) << L{} << ""
                                << "" << QStringList{"Unknown message type: 4"};
        QTest::newRow("type 255") << bytes({255}) << L{} << ""
                                  << "" << QStringList{"Unknown message type: 255"};
        QTest::newRow("type 6 of 8 bytes") << bytes({6, 0, 0, 0, 0, 0, 0, 1}) << L{} << ""
                                           << "" << QStringList();
    }
    void dispatch()
    {
        QFETCH(QByteArray, payload);
        QFETCH(QList<QByteArray>, toPhone);
        QFETCH(QString, label);
        QFETCH(QString, field);
        QFETCH(QStringList, lines);
        mlog::Capture log;
        Rig rig;
        QVERIFY(rig.validate(log));
        rig.server.writeFrame(payload);
        QVERIFY(rig.settle());

        QCOMPARE(rig.phone.sent, toPhone);
        QCOMPARE(rig.phone.cached.size(), label.isEmpty() ? 0 : 1);
        if (!label.isEmpty())
            QCOMPARE(rig.phone.cached[0], qMakePair(label, payload));
        const QList<QPair<QString, Field>> fields{{"songData", &MarquellState::songData},
                                                  {"midiMapInit", &MarquellState::midiMapInit},
                                                  {"selectedIndex", &MarquellState::selectedIndex},
                                                  {"cueJumpMode", &MarquellState::cueJumpMode},
                                                  {"bpm", &MarquellState::bpm}};
        for (const auto &[name, member] : fields) {
            const std::optional<QByteArray> &value = rig.cache.currentState().*member;
            QCOMPARE(value, name == field ? std::optional<QByteArray>(payload) : std::nullopt);
        }
        QCOMPARE(log.messages(), lines);
        QVERIFY(rig.socket.isConnected());
    }

    // The server's zero ping starts the cycle without an RTT; each echo of our ping
    // prints one and the next ping follows after the interval.
    void pingCycle()
    {
        mlog::Capture log;
        Rig rig;
        QVERIFY(rig.validate(log));
        rig.server.writeFrame(QByteArray(1, 6) + u64(0));
        QTRY_COMPARE(rig.server.received().size(), 9);
        QByteArray ping = rig.server.takeReceived();
        QCOMPARE(ping.at(0), char(6));
        QCOMPARE(log.messages(), (QStringList{"Pinging", "Data sent"}));
        log.clear();

        for (int round = 0; round < 2; ++round) {
            QElapsedTimer sinceReply;
            sinceReply.start();
            rig.server.writeFrame(ping);
            QTRY_COMPARE(rig.server.received().size(), 9);
            QVERIFY2(sinceReply.elapsed() >= 90, "the next ping waits for the interval");
            const QStringList lines = log.messages();
            QCOMPARE(lines.size(), 3);
            QVERIFY2(lines[0].startsWith("🎯 RTT to Ableton: ") && lines[0].endsWith(" ms"),
                     qPrintable(lines[0]));
            bool ok = false;
            const double rtt = lines[0].sliced(19).chopped(3).toDouble(&ok);
            QVERIFY(ok);
            QVERIFY2(rtt >= 0 && rtt < 1000, qPrintable(lines[0]));
            QCOMPARE(lines.sliced(1), (QStringList{"Pinging", "Data sent"}));
            log.clear();
            ping = rig.server.takeReceived();
            QVERIFY(qFromBigEndian<quint64>(ping.constData() + 1) <=
                    AbletonSocket::monotonicNanoseconds());
        }

        // A reply from the future gives no RTT, yet the cycle goes on.
        rig.server.writeFrame(QByteArray(1, 6) + u64(~quint64(0)));
        QTRY_COMPARE(rig.server.received().size(), 9);
        QCOMPARE(log.messages(), (QStringList{"Pinging", "Data sent"}));

        // No reply: the cycle ends.
        rig.server.takeReceived();
        QTest::qWait(350);
        QCOMPARE(rig.server.received(), QByteArray());
    }

    void setlistFromPhone_data()
    {
        QTest::addColumn<QByteArray>("fromPhone");
        QTest::addColumn<QByteArray>("toLive"); // empty: nothing written
        QTest::addColumn<QStringList>("lines");

        QTest::newRow("one song") << QByteArray(1, 4) + song(7, "Intro", "3:05")
                                  << QByteArray("\x04\x00\x00\x00\x00\x00\x00\x00\x07\x05Intro", 15)
                                  << QStringList{"Data sent"};
        QTest::newRow("empty") << bytes({4}) << bytes({4})
                               << QStringList{"📝 Setlist is empty. Sending header only.",
                                              "Data sent"};
        const QByteArray longName(255, 'n');
        QTest::newRow("two songs, longest name, non-ASCII")
            << QByteArray(1, 4) + song(1, "Caf\xc3\xa9", "1:00") +
                   song(0x0102030405060708ULL, longName, "9:59")
            << QByteArray(1, 4) + u64(1) + text("Caf\xc3\xa9") + u64(0x0102030405060708ULL) +
                   text(longName)
            << QStringList{"Data sent"};
        QTest::newRow("stops at a separator")
            << QByteArray(1, 4) + song(3, "A", "1:00") + char(4) + "junk"
            << QByteArray(1, 4) + u64(3) + text("A") << QStringList{"Data sent"};
        QTest::newRow("truncated record")
            << QByteArray(1, 4) + song(3, "A", "1:00") + song(4, "Bee", "2:00").chopped(2)
            << QByteArray() << QStringList{"Setlist from iOS is malformed; nothing sent to Live"};
    }
    // Re-encoded for Live, then merged into the cached song data without an echo.
    void setlistFromPhone()
    {
        QFETCH(QByteArray, fromPhone);
        QFETCH(QByteArray, toLive);
        QFETCH(QStringList, lines);
        mlog::Capture log;
        Rig rig;
        QVERIFY(rig.validate(log));
        const QByteArray pool = QByteArray(1, 3) + song(1, "Pool", "1:00");
        rig.server.writeFrame(pool + char(4) + song(2, "Old", "2:00"));
        QVERIFY(rig.settle());
        rig.phone.sent.clear();
        log.clear();

        rig.socket.send(fromPhone);
        const QByteArray merged = pool + fromPhone;
        QCOMPARE(log.messages(),
                 lines + QStringList{
                             QStringLiteral("Merged new setlist into cached song data (%1 bytes)")
                                 .arg(merged.size())});
        QCOMPARE(rig.cache.currentState().songData, std::optional<QByteArray>(merged));
        QVERIFY(rig.phone.sent.isEmpty());

        // Anything else goes unchanged, and is the only thing behind the setlist.
        rig.socket.send(bytes({1, 4}));
        QTRY_COMPARE(rig.server.received(), toLive + bytes({1, 4}));
    }

    void sendBeforeAnyConnectionDoesNothing()
    {
        mlog::Capture log;
        Rig rig;
        rig.socket.send(bytes({1, 1}));
        rig.socket.send(QByteArray(1, 4) + song(7, "Intro", "3:05"));
        rig.socket.ping();
        QCOMPARE(log.messages(), QStringList{"Pinging"});
        QVERIFY(!rig.cache.setlistFromiOS());
    }

    void serverCloses_data()
    {
        QTest::addColumn<QByteArray>("lastBytes");
        QTest::addColumn<QString>("line");
        QTest::addColumn<std::optional<QByteArray>>("bpm");
        QTest::newRow("during payload")
            << bytes({0, 0, 0, 10, 3, 1, 2}) << "Connection closed by server (during payload)"
            << std::optional<QByteArray>();
        // Whole frames before the close are still handled.
        QTest::newRow("between frames")
            << frame(bytes({8, 0, 0, 0x2f, 0x12})) + bytes({0, 0}) << "Connection closed by server."
            << std::optional<QByteArray>(bytes({8, 0, 0, 0x2f, 0x12}));
    }
    // The close ends validation, sends fail with a line, and the next connection
    // starts with the handshake again.
    void serverCloses()
    {
        QFETCH(QByteArray, lastBytes);
        QFETCH(QString, line);
        QFETCH(std::optional<QByteArray>, bpm);
        mlog::Capture log;
        Rig rig;
        QVERIFY(rig.validate(log));
        rig.server.write(lastBytes);
        rig.server.closeClients();
        QTRY_COMPARE(rig.lastState(), ConnectionState::disconnected());
        QCOMPARE(log.messages(), QStringList{line});
        QVERIFY(!rig.socket.isConnected());
        QCOMPARE(rig.connected.size(), 1);
        QCOMPARE(rig.connected.last().at(0).toBool(), false);
        QVERIFY(!rig.cache.currentState().songData);
        QCOMPARE(rig.cache.currentState().bpm, bpm);
        QVERIFY(!rig.socket.serverValidated());

        log.clear();
        rig.socket.send(bytes({1, 1}));
        QCOMPARE(log.messages(), QStringList{"Failed to send data: Socket is not connected"});

        log.clear();
        QVERIFY(rig.validate(log));
        QCOMPARE(rig.server.acceptedCount(), 2);
    }

    // A new attempt replaces the live connection only once it is ready.
    void failedAttemptLeavesTheConnectionInPlace()
    {
        mlog::Capture log;
        Rig rig;
        QVERIFY(rig.validate(log));
        const quint16 closedPort = ScriptedLiveServer::closedPort();
        QVERIFY(closedPort != 0);
        rig.socket.connectToLive(closedPort);
        QTRY_VERIFY(log.contains("Cancelled connection to Live"));
        QCOMPARE(rig.allStates(), QList<ConnectionState>{ConnectionState::waiting()});
        QVERIFY(rig.socket.isConnected());
        rig.socket.send(bytes({1, 1}));
        QTRY_COMPARE(rig.server.received(), bytes({1, 1}));
        rig.server.writeFrame(bytes({7, 1}));
        QTRY_COMPARE(rig.phone.sent, QList<QByteArray>{bytes({7, 1})});
    }
};

QTEST_GUILESS_MAIN(TestAbletonSocket)
#include "tst_abletonsocket.moc"
