// SPDX-License-Identifier: MIT
// The daemon as an OSC peer, against real peers: liblo-tools' oscsend and oscdump,
// liblo itself for bundles, and a scripted Live server that records the bytes.
#include "dnssdadvertiser.h"
#include "livebytes.h"
#include "log.h"
#include "oscremote.h"
#include "phonerig.h"

#include <QProcess>
#include <QStandardPaths>
#include <QUdpSocket>

#include <lo/lo.h>

using namespace livebytes;

namespace {

constexpr quint64 kIntro = 0x7000000001000001;
constexpr quint64 kOutro = 0x7000000001000002;
// Pool of two; setlist Intro, Outro; Outro selected, two sections in it, marked "stop after".
const QByteArray kPool = bytes({3}) + song(kIntro, "Intro", "1:00") +
                         song(kOutro, "Outro", "2:30") + bytes({4}) +
                         song(kIntro, "Intro", "1:00") + song(kOutro, "Outro", "2:30");
const QByteArray kSections = bytes({11}) + u64(kOutro) + bytes({2, 0, 0, 0, 0, 0, 0, 0x75, 0x30}) +
                             text("Verse") + bytes({0, 0, 0x75, 0x30, 0, 0, 0x75, 0x30}) +
                             text("Out");
const QByteArray kMarks = bytes({12, 0, 2, 0, 1});

quint16 freeUdpPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}

bool oscsend(quint16 port, const QStringList &message)
{
    return QProcess::execute(QStringLiteral("oscsend"),
                             QStringList{QStringLiteral("127.0.0.1"), QString::number(port)} +
                                 message) == 0;
}

// oscdump on a port of its own, keeping every line it prints (address onwards).
struct OscDump
{
    OscDump() : port(freeUdpPort())
    {
        process.start(QStringLiteral("oscdump"), {QStringLiteral("-L"), QString::number(port)});
        process.waitForStarted();
        QTest::qWait(100); // its socket is bound before anything is sent to it
    }
    ~OscDump()
    {
        process.kill();
        process.waitForFinished();
    }
    QStringList lines()
    {
        for (const QByteArray &line : process.readAllStandardOutput().split('\n'))
            if (const qsizetype space = line.indexOf(' '); space > 0)
                seen.append(QString::fromUtf8(line.mid(space + 1)));
        return seen;
    }
    quint16 port;
    QProcess process;
    QStringList seen;
};

struct OscRig
{
    explicit OscRig(const QVariantHash &values = {}, quint16 oscPort = 0)
        : live(cache, phone, {std::chrono::milliseconds(50), std::chrono::milliseconds(100)}),
          settings(home.path() + QStringLiteral("/daemon.ini"), QSettings::IniFormat),
          osc(cache, live, advertiser, configure(settings, values, oscPort), options())
    {
        osc.start();
    }
    static QSettings &configure(QSettings &s, const QVariantHash &values, quint16 port)
    {
        s.setValue(QStringLiteral("oscPort"), port ? port : freeUdpPort());
        for (auto it = values.begin(); it != values.end(); ++it)
            s.setValue(it.key(), it.value());
        return s;
    }
    static OscRemote::Options options()
    {
        OscRemote::Options o;
        o.feedback.lifetime = std::chrono::milliseconds(1500);
        return o;
    }
    // Live validated, with the show above in the cache.
    bool start()
    {
        live.connectToLive(server.port());
        if (!QTest::qWaitFor([this] { return server.hasClient(); }))
            return false;
        server.writeIdentity();
        for (const QByteArray &payload : {kPool, bytes({5, 1}), kSections, kMarks})
            server.writeFrame(payload);
        return QTest::qWaitFor([this] { return osc.show().stopAfterMarked().has_value(); }) &&
               QTest::qWaitFor([this] { return server.takeReceived() == daemonReply(); });
    }
    // What reached Live up to and including a final /marquell/stop, which is left off.
    QByteArray liveBytesThroughStop()
    {
        if (!oscsend(osc.port(), {QStringLiteral("/marquell/stop")}) || !QTest::qWaitFor([this] {
                return server.received().endsWith(bytes({1, 2}));
            }))
            return "(no stop arrived)";
        return server.takeReceived().chopped(2);
    }

    TempHome home;
    NoPhoneRelay phone;
    DaemonStateCache cache{phone};
    AbletonSocket live;
    ScriptedLiveServer server;
    QSettings settings;
    FakeServiceAdvertiser advertiser;
    OscRemote osc;
};

} // namespace

class TestOscRemote final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("oscsend")).isEmpty())
            QSKIP("liblo-tools is not installed (scripts/setup installs it)");
    }

    void commandsReachLiveAsTheApplicationsBytes_data()
    {
        QTest::addColumn<QStringList>("message");
        QTest::addColumn<QByteArray>("live"); // empty: dropped, nothing forwarded
        const auto row = [](const char *name, const QStringList &message, const QByteArray &live) {
            QTest::newRow(name) << message << live;
        };
        row("play", {"/marquell/play"}, bytes({1, 1}));
        row("press with int 1", {"/marquell/next", "i", "1"}, bytes({1, 4}));
        row("press with float 1.0", {"/marquell/previous", "f", "1.0"}, bytes({1, 3}));
        row("release with float 0.0 is ignored", {"/marquell/play", "f", "0.0"}, {});
        row("release with int 0 is ignored", {"/marquell/next", "i", "0"}, {});
        row("pattern", {"/marquell/{next,nothing}"}, bytes({1, 4}));
        row("select int", {"/marquell/select", "i", "0"}, bytes({3, 0}));
        row("select float", {"/marquell/select", "f", "1.0"}, bytes({3, 1}));
        row("select numeric string", {"/marquell/select", "s", " 1"}, bytes({3, 1}));
        row("select past the setlist", {"/marquell/select", "i", "2"}, {});
        row("select a fraction", {"/marquell/select", "f", "0.5"}, {});
        row("select without position", {"/marquell/select"}, {});
        row("song by name, any case", {"/marquell/song/name", "s", "oUTRO"},
            bytes({5}) + u64(kOutro));
        row("song by unknown name", {"/marquell/song/name", "s", "Outr"}, {});
        row("song by id string", {"/marquell/song/id", "s", QString::number(kIntro)},
            bytes({5}) + u64(kIntro));
        row("song by id int64", {"/marquell/song/id", "h", QString::number(kIntro)},
            bytes({5}) + u64(kIntro));
        row("song by unknown id", {"/marquell/song/id", "i", "7"}, {});
        row("cue mode", {"/marquell/cuemode", "i", "2"}, bytes({7, 2}));
        row("cue mode out of range", {"/marquell/cuemode", "i", "3"}, {});
        row("section", {"/marquell/section", "i", "1"}, bytes({11}) + u64(kOutro) + bytes({1}));
        row("section past the song's last", {"/marquell/section", "i", "2"}, {});
        row("stop after clear", {"/marquell/stopafter", "i", "0"},
            bytes({12}) + u64(kOutro) + bytes({0}));
        row("stop after toggle", {"/marquell/stopafter/toggle"},
            bytes({12}) + u64(kOutro) + bytes({0}));
        row("stop after toggle release", {"/marquell/stopafter/toggle", "i", "0"}, {});
        row("unknown address", {"/marquell/explode"}, {});
        row("outside the address space", {"/other/play"}, {});
    }
    void commandsReachLiveAsTheApplicationsBytes()
    {
        QFETCH(QStringList, message);
        QFETCH(QByteArray, live);
        OscRig rig;
        QVERIFY(rig.start());
        QVERIFY(oscsend(rig.osc.port(), message));
        QCOMPARE(rig.liveBytesThroughStop().toHex(), live.toHex());
    }

    void packetsAreCheckedBeforeAnythingReachesLive_data()
    {
        QTest::addColumn<QString>("allowFrom");
        QTest::addColumn<QByteArray>("datagram"); // raw bytes; empty: a liblo bundle
        QTest::addColumn<QByteArray>("live");
        QTest::addColumn<QString>("logged");
        QTest::newRow("bundle") << QString() << QByteArray() << bytes({1, 4, 1, 2}) << QString();
        QTest::newRow("malformed")
            << QString() << QByteArray("garbage!") << QByteArray() << "malformed packet";
        QTest::newRow("truncated arguments")
            << QString() << QByteArray("/marquell/select\0\0\0\0,i\0\0\0\0", 24) << QByteArray()
            << "malformed packet";
        QTest::newRow("allowed network")
            << "10.0.0.0/8, 127.0.0.0/8" << QByteArray() << bytes({1, 4, 1, 2}) << QString();
        QTest::newRow("outside the allow-list")
            << "10.0.0.0/8" << QByteArray() << QByteArray() << "not in oscAllowFrom";
    }
    void packetsAreCheckedBeforeAnythingReachesLive()
    {
        QFETCH(QString, allowFrom);
        QFETCH(QByteArray, datagram);
        QFETCH(QByteArray, live);
        QFETCH(QString, logged);
        mlog::Capture log;
        OscRig rig({{QStringLiteral("oscAllowFrom"), allowFrom}});
        QVERIFY(rig.start());
        QUdpSocket sender;
        const QByteArray bundle = [] {
            lo_bundle b = lo_bundle_new(LO_TT_IMMEDIATE);
            lo_bundle_add_message(b, "/marquell/next", lo_message_new());
            lo_bundle_add_message(b, "/marquell/stop", lo_message_new());
            size_t size = 0;
            void *data = lo_bundle_serialise(b, nullptr, &size);
            const QByteArray out(static_cast<const char *>(data), qsizetype(size));
            free(data);
            lo_bundle_free_recursive(b);
            return out;
        }();
        for (int i = 0; i < 2; ++i)
            sender.writeDatagram(datagram.isEmpty() ? bundle : datagram,
                                 QHostAddress(QHostAddress::LocalHost), rig.osc.port());
        const auto lines = [&] {
            return log.messages().filter(QStringLiteral("OSC: dropp"));
        };
        if (live.isEmpty()) {
            QTRY_VERIFY(!lines().isEmpty());
            QTest::qWait(100);
            QCOMPARE(rig.server.received().toHex(), QByteArray());
            // Refused senders are named once, however many packets they send.
            QCOMPARE(lines().size(), logged.contains("oscAllowFrom") ? 1 : 2);
            QVERIFY2(lines().first().contains(logged), qPrintable(lines().first()));
        } else {
            QTRY_COMPARE(rig.server.received().toHex(), (live + live).toHex());
            QVERIFY(lines().isEmpty());
        }
    }

    // Subscribed by reply port or named in the settings: every field at once, then each
    // change; a subscription that is not renewed lapses.
    void feedbackFollowsTheShow_data()
    {
        QTest::addColumn<bool>("subscribe");
        QTest::newRow("subscribed with a reply port") << true;
        QTest::newRow("static target") << false;
    }
    void feedbackFollowsTheShow()
    {
        QFETCH(bool, subscribe);
        OscDump dump;
        mlog::Capture log;
        const QString target = QStringLiteral("127.0.0.1:%1").arg(dump.port);
        OscRig rig(subscribe ? QVariantHash() : QVariantHash{{"oscFeedbackTargets", target}});
        QVERIFY(rig.start());
        if (subscribe)
            QVERIFY(
                oscsend(rig.osc.port(), {"/marquell/subscribe", "i", QString::number(dump.port)}));
        for (const char *line :
             {"/marquell/state/live i 1", "/marquell/state/song s \"Outro\"",
              "/marquell/state/index i 1", "/marquell/state/nextsong s \"\"",
              "/marquell/state/settimeleft s \"00:02:30\"", "/marquell/state/songtimeleft s \"\""})
            QTRY_VERIFY2(dump.lines().contains(QLatin1String(line)), line);

        rig.server.writeFrame(bytes({8, 0, 0, 0x2f, 0x12}));
        rig.server.writeFrame(bytes({1, 1}));
        rig.server.writeFrame(bytes({10}) + u64(kOutro) +
                              bytes({0, 0, 0x27, 0x10, 0, 2, 0x49, 0xf0}) + bytes({0, 1, 0xff}));
        for (const char *line :
             {"/marquell/state/tempo f 120.500000", "/marquell/state/playing i 1",
              "/marquell/state/songtimeleft s \"2:20\""})
            QTRY_VERIFY2(dump.lines().contains(QLatin1String(line)), line);

        QTRY_COMPARE_WITH_TIMEOUT(log.messages().filter("lapsed").size(), subscribe ? 1 : 0, 5000);
        const qsizetype before = dump.lines().size();
        rig.server.writeFrame(bytes({8, 0, 0, 0x2e, 0xe0}));
        if (subscribe) {
            QTest::qWait(300);
            QCOMPARE(dump.lines().size(), before);
        } else {
            QTRY_VERIFY(dump.lines().contains("/marquell/state/tempo f 120.000000"));
        }
    }

    // More changes than 20 a second: fewer messages, the last value arrives.
    void feedbackToOneClientIsCoalesced()
    {
        OscDump dump;
        OscRig rig;
        QVERIFY(rig.start());
        QVERIFY(oscsend(rig.osc.port(), {"/marquell/subscribe", "i", QString::number(dump.port)}));
        QTRY_VERIFY(dump.lines().contains("/marquell/state/live i 1"));
        for (int bpm = 100; bpm < 160; ++bpm)
            rig.server.writeFrame(bytes({8, 0, 0, (bpm * 100) >> 8, (bpm * 100) & 0xff}));
        QTRY_VERIFY_WITH_TIMEOUT(dump.lines().contains("/marquell/state/tempo f 159.000000"), 5000);
        QVERIFY(dump.lines().filter("/marquell/state/tempo").size() <= 25);
    }

    void portSettingAndFallback_data()
    {
        QTest::addColumn<bool>("taken");
        QTest::newRow("free") << false;
        QTest::newRow("taken") << true;
    }
    void portSettingAndFallback()
    {
        QFETCH(bool, taken);
        QUdpSocket holder;
        QVERIFY(holder.bind(QHostAddress::Any, 0, QUdpSocket::DontShareAddress));
        const quint16 wanted = taken ? holder.localPort() : freeUdpPort();
        if (!taken)
            holder.close();
        mlog::Capture log;
        OscRig rig({}, wanted);
        QCOMPARE(rig.osc.port() == wanted, !taken);
        QCOMPARE(rig.osc.usingFallbackPort(), taken);
        QCOMPARE(rig.advertiser.current->port, rig.osc.port());
        QCOMPARE(rig.advertiser.current->type, QStringLiteral("_osc._udp"));
        QCOMPARE(
            log.messages().filter(QStringLiteral("OSC: port %1 unavailable").arg(wanted)).size(),
            taken ? 1 : 0);
        QVERIFY(rig.start());
        QVERIFY(oscsend(rig.osc.port(), {"/marquell/next"}));
        QCOMPARE(rig.liveBytesThroughStop().toHex(), QByteArray("0104"));
    }

    // Real DNS-SD beside the private Avahi daemon; a second daemon takes the next name.
    void advertisedAsOscServiceAndRenamedOnConflict()
    {
        if (qgetenv("MARQUELL_AVAHI") != "1")
            QSKIP("no private Avahi daemon here (scripts/test starts one where Avahi can run)");
        TempHome home;
        NoPhoneRelay phone;
        DaemonStateCache cache{phone};
        AbletonSocket live(cache, phone);
        QSettings settings(home.path() + "/daemon.ini", QSettings::IniFormat);
        settings.setValue("oscPort", freeUdpPort());
        DnsSdAdvertiser first, second;
        QSignalSpy firstName(&first, &ServiceAdvertiser::advertised);
        QSignalSpy secondName(&second, &ServiceAdvertiser::advertised);
        OscRemote one(cache, live, first, settings);
        one.start();
        QTRY_COMPARE_WITH_TIMEOUT(firstName.count(), 1, 10000);
        QProcess browse;
        browse.start("avahi-browse", {"-rpt", "_osc._udp"});
        QVERIFY(browse.waitForFinished(10000));
        const QString printed = QString::fromUtf8(browse.readAllStandardOutput());
        QVERIFY2(printed.contains(QStringLiteral(";Marquell;_osc._udp;")) &&
                     printed.contains(QStringLiteral(";%1;").arg(one.port())),
                 qPrintable(printed));
        settings.setValue("oscPort", freeUdpPort());
        OscRemote two(cache, live, second, settings);
        two.start();
        QTRY_COMPARE_WITH_TIMEOUT(secondName.count(), 1, 10000);
        QCOMPARE(secondName.first().at(0).toString(), QStringLiteral("Marquell (2)"));
    }
};

QTEST_GUILESS_MAIN(TestOscRemote)
#include "tst_oscremote.moc"
