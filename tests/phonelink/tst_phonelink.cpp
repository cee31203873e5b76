// SPDX-License-Identifier: MIT
#include "dnssdadvertiser.h"
#include "livebytes.h"
#include "log.h"
#include "phoneframes.h"
#include "phonerig.h"

#include <QProcess>
#include <QTcpServer>
#include <QtTest>

using namespace livebytes;

namespace {

constexpr quint64 kIntro = 0x8000000001000001ull;
constexpr quint64 kOutro = 0x8000000001000002ull;
const QByteArray kPool = QByteArray(1, 3) + song(kIntro, "Intro", "1:00") +
                         song(kOutro, "Outro", "2:30") + char(4) + song(kOutro, "Outro", "2:30");
const QList<Song> kSongs{{kIntro, "Intro", "1:00"}, {kOutro, "Outro", "2:30"}};

} // namespace

class TestPhoneLink : public QObject
{
    Q_OBJECT

private slots:
    void describe_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("text");
        QTest::newRow("Live down") << bytes({9}) << "Live link down";
        QTest::newRow("playing") << bytes({1, 1}) << "playing";
        QTest::newRow("stopped") << bytes({1, 2}) << "stopped";
        QTest::newRow("notice") << bytes({2}) << "notice";
        QTest::newRow("index") << bytes({5, 3}) << "selected index 3";
        QTest::newRow("cue mode") << bytes({7, 2}) << "cue jump mode 2";
        QTest::newRow("tempo") << bytes({8, 0, 0, 0x2f, 0x12}) << "tempo 120.50";
        QTest::newRow("mappings") << QByteArray(1, 0) + mapRecord("play", 0, 1, 60) +
                                         mapRecord("next", 1, 0, 64)
                                  << "MIDI mappings: play=note ch2 60, next=CC ch1 64";
        QTest::newRow("song pool") << kPool
                                   << "song pool, 2 songs:\n"
                                      "  8000000001000001  Intro  1:00\n"
                                      "  8000000001000002  Outro  2:30\n"
                                      "setlist, 1 songs:\n"
                                      "  8000000001000002  Outro  2:30";
        QTest::newRow("short tempo") << bytes({8, 1}) << "unreadable frame: 08 01";
    }
    void describe()
    {
        QFETCH(QByteArray, payload);
        QFETCH(QString, text);
        QCOMPARE(phoneframes::describe(payload), text);
    }

    void encodeCommand_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("bytes"); // empty: refused
        QTest::newRow("play") << "play" << bytes({1, 1});
        QTest::newRow("next, spaced") << "  next " << bytes({1, 4});
        QTest::newRow("select 3") << "select 3" << bytes({3, 3});
        QTest::newRow("cue 2") << "cue 2" << bytes({7, 2});
        QTest::newRow("midi") << "midi 90 3c 64" << bytes({0x20, 0x90, 0x3c, 0x64});
        QTest::newRow("playsong") << "playsong 8000000001000002" << bytes({5}) + u64(kOutro);
        QTest::newRow("setlist") << "setlist 8000000001000002 8000000001000001"
                                 << bytes({4}) + song(kOutro, "Outro", "2:30") +
                                        song(kIntro, "Intro", "1:00");
        QTest::newRow("empty setlist") << "setlist" << bytes({4});
        QTest::newRow("raw") << "raw ff 01" << bytes({0xff, 1});
        QTest::newRow("setlist, unknown song") << "setlist 99" << QByteArray();
        QTest::newRow("select 256") << "select 256" << QByteArray();
        QTest::newRow("midi, two bytes") << "midi 90 3c" << QByteArray();
        QTest::newRow("midi, not hex") << "midi 90 3c zz" << QByteArray();
        QTest::newRow("play with an argument") << "play 2" << QByteArray();
        QTest::newRow("unknown") << "jump" << QByteArray();
    }
    void encodeCommand()
    {
        QFETCH(QString, command);
        QFETCH(QByteArray, bytes);
        const auto encoded = phoneframes::encodeCommand(command, kSongs);
        if (bytes.isEmpty())
            QVERIFY(std::holds_alternative<QString>(encoded));
        else
            QCOMPARE(std::get<QByteArray>(encoded).toHex(), bytes.toHex());
    }

    // How a run ends, as a script sees it; %1 is a listening port that never answers.
    void exitStatus_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        QTest::newRow("version") << QStringList{"--version"} << 0
                                 << "^marquell-phonelink \\d+\\.\\d+\\.\\d+\n$"
                                 << "^$";
        QTest::newRow("unknown command")
            << QStringList{"127.0.0.1:%1", "jump", "play"} << 1
            << "^connected to 127.0.0.1:\\d+\n! unknown command: jump\n$"
            << "^$";
        // No system bus, so no Avahi: one line of ours, none of Avahi's warnings.
        QTest::newRow("no DNS-SD daemon")
            << QStringList{"--browse"} << 2 << "^$"
            << "^marquell-phonelink: no DNS-SD daemon answers[^\n]*HOST:PORT[^\n]*\n$";
    }
    void exitStatus()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        args.replaceInStrings("%1", QString::number(silent.serverPort()));
        QProcess tool;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/bus");
        env.remove("AVAHI_COMPAT_NOWARN");
        tool.setProcessEnvironment(env);
        tool.start(PHONELINK_BINARY, args);
        QVERIFY(tool.waitForFinished(10000));
        const QString printed = QString::fromUtf8(tool.readAllStandardOutput());
        const QString complaint = QString::fromUtf8(tool.readAllStandardError());
        QCOMPARE(tool.exitCode(), status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QVERIFY2(printed.contains(QRegularExpression(out)), qPrintable(printed));
        QVERIFY2(complaint.contains(QRegularExpression(err)), qPrintable(complaint));
    }

    // The tool against the daemon's phone side: prints the cached state, and its
    // commands reach Live, the setlist built from the pool it was sent. Piped, it hangs
    // up right after the setlist, inside the quiet time that would end it.
    void followsTheShowAndSendsCommands_data()
    {
        QTest::addColumn<bool>("piped");
        QTest::newRow("arguments") << false;
        QTest::newRow("piped, hangs up at the end of input") << true;
    }
    void followsTheShowAndSendsCommands()
    {
        QFETCH(bool, piped);
        PhoneRig rig;
        QVERIFY(rig.start());
        rig.server.writeFrame(kPool);
        QTRY_VERIFY(rig.cache.currentState().songData);
        const QStringList commands{"next", "setlist 8000000001000001"};
        const QString target = QString("127.0.0.1:%1").arg(rig.phone.listeningPort());
        QProcess tool;
        tool.start(PHONELINK_BINARY,
                   piped ? QStringList{target} : QStringList{"--seconds", "5", target} + commands);
        QVERIFY(tool.waitForStarted());
        if (piped) {
            tool.write(commands.join('\n').toUtf8() + '\n');
            tool.closeWriteChannel();
        }
        const QByteArray upload = bytes({4}) + u64(kIntro) + text("Intro");
        QTRY_COMPARE_WITH_TIMEOUT(rig.server.received().toHex(), (bytes({1, 4}) + upload).toHex(),
                                  4000);
        if (piped) {
            QTRY_COMPARE(tool.state(), QProcess::NotRunning);
            QCOMPARE(tool.exitCode(), 0);
        } else {
            rig.server.writeFrame(bytes({5, 1}));
        }
        QByteArray printed;
        QTRY_VERIFY((printed += tool.readAllStandardOutput()).contains("> setlist"));
        QVERIFY(piped || QTest::qWaitFor([&] {
                    return (printed += tool.readAllStandardOutput()).contains("< selected index 1");
                }));
        QVERIFY2(printed.contains("< song pool, 2 songs:\n    8000000001000001  Intro  1:00"),
                 printed.constData());
    }

    // Real DNS-SD, beside the private Avahi daemon that scripts/test starts: the tool finds
    // the daemon as a phone would, and connects. Avahi refuses a taken name instead of
    // renaming: a second daemon takes the next free one.
    void findsTheAdvertisedDaemonAndATakenNameIsRenamed()
    {
        if (qgetenv("MARQUELL_AVAHI") != "1")
            QSKIP("no private Avahi daemon here (scripts/test starts one where Avahi can run)");
        PhoneRigWith<DnsSdAdvertiser> rig;
        QSignalSpy advertised(&rig.advertiser, &ServiceAdvertiser::advertised);
        QVERIFY(rig.listen());
        QTRY_COMPARE_WITH_TIMEOUT(advertised.count(), 1, 10000);
        QProcess tool;
        tool.start(PHONELINK_BINARY, {"--browse", "--seconds", "1"});
        QTRY_VERIFY_WITH_TIMEOUT(tool.state() == QProcess::NotRunning, 10000);
        const QString printed = QString::fromUtf8(tool.readAllStandardOutput());
        const QString at = QStringLiteral("127.0.0.1:%1").arg(rig.phone.listeningPort());
        QVERIFY2(printed.contains(QStringLiteral("found \"Marquell\" (hostname %1) at %2")
                                      .arg(rig.phone.deviceName(), at)),
                 qPrintable(printed));
        QVERIFY2(printed.contains("connected to " + at), qPrintable(printed));

        mlog::Capture log;
        PhoneRigWith<DnsSdAdvertiser> second;
        QSignalSpy renamed(&second.advertiser, &ServiceAdvertiser::advertised);
        QVERIFY(second.listen());
        QTRY_COMPARE_WITH_TIMEOUT(renamed.count(), 1, 10000);
        QCOMPARE(renamed.first().at(0).toString(), QStringLiteral("Marquell (2)"));
        QVERIFY(log.systemLines().contains(
            QStringLiteral("iOSSocket: advertised as \"Marquell (2)\"")));
    }
};

QTEST_GUILESS_MAIN(TestPhoneLink)
#include "tst_phonelink.moc"
