// SPDX-License-Identifier: MIT
// The Debian package as a user's machine sees it: unpacked into a scratch root, checked
// and linted, and both programs run headless from that root in a temporary home.
#include "livebytes.h"
#include "scriptedliveserver.h"
#include "singleinstancelock.h"
#include "temphome.h"

#include <QDirIterator>
#include <QLockFile>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <csignal>

namespace {

const QString kVersion = QStringLiteral(MARQUELL_VERSION);
const QString kScriptDir = QStringLiteral("usr/share/marquell/remote_script/");
const QStringList kPrograms{QStringLiteral("Marquell"), QStringLiteral("MarquellDaemon")};

// How the home looks before a program starts.
constexpr int ScriptUpToDate = 0, EmptyUserLibrary = 1, AutoStartDaemon = 2;

struct ToolRun
{
    int status = -1; // -1: crashed or timed out
    QString out;     // standard output and error
};

ToolRun runTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool ended =
        process.waitForFinished(180000) && process.exitStatus() == QProcess::NormalExit;
    return {ended ? process.exitCode() : -1, QString::fromUtf8(process.readAll())};
}

// Stops a process this test started (directly or through the application) by its id.
template <typename Gone> bool terminate(qint64 pid, Gone gone)
{
    ::kill(pid_t(pid), SIGTERM);
    return QTest::qWaitFor(gone, 10000);
}

} // namespace

class TestPackage : public QObject
{
    Q_OBJECT

    QString m_deb;
    QTemporaryDir m_root;
    QStringList m_files; // every packaged file, relative to the root, sorted

    QString installed(const QString &relative) const { return m_root.filePath(relative); }

    static bool write(const QString &path, const QString &text)
    {
        QFile file(path);
        return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) &&
               file.write(text.toUtf8()) > 0;
    }
    static QString read(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private slots:
    void initTestCase()
    {
        const QDir out(QStringLiteral(MARQUELL_PACKAGE_DIR));
        const QStringList debs = out.entryList({QStringLiteral("*.deb")}, QDir::Files);
        QCOMPARE(debs.size(), 1);
        m_deb = out.filePath(debs.first());
        const ToolRun unpack = runTool("dpkg-deb", {QStringLiteral("-x"), m_deb, m_root.path()});
        QVERIFY2(unpack.status == 0, qPrintable(unpack.out));
        QDirIterator it(m_root.path(), QDir::Files | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            m_files << QDir(m_root.path()).relativeFilePath(it.next());
        m_files.sort();
    }

    // Named and described as Debian expects; lintian finds no errors.
    void controlFieldsAndLintian()
    {
        const QString arch = runTool("dpkg", {"--print-architecture"}).out.trimmed();
        QCOMPARE(QFileInfo(m_deb).fileName(),
                 QStringLiteral("marquell_%1_%2.deb").arg(kVersion, arch));
        const auto field = [this](const char *name) {
            return runTool("dpkg-deb", {"-f", m_deb, name}).out.trimmed();
        };
        QCOMPARE(field("Package"), QStringLiteral("marquell"));
        QCOMPARE(field("Version"), kVersion);
        QCOMPARE(field("Architecture"), arch);
        // Versioned entries come from dpkg-shlibdeps; the SQLite plug-in is named by hand.
        const QString depends = field("Depends");
        for (const char *needed : {"libc6 (>=", "libqt6core6 (>=", "libqt6widgets6 (>=",
                                   "libqt6network6 (>=", "libqt6svg6 (>=", "libqt6sql6-sqlite"})
            QVERIFY2(depends.contains(QLatin1String(needed)), qPrintable(depends));
        const ToolRun lint = runTool("lintian", {"--allow-root", m_deb});
        QVERIFY2(lint.status >= 0, "lintian did not run (scripts/setup installs it)");
        const QStringList errors =
            lint.out.split(QLatin1Char('\n')).filter(QRegularExpression(QStringLiteral("^E: ")));
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join('\n')));
    }

    // Exactly these files: a missing install rule or a test, tool or header that slips
    // into the package both show here. The menu entries are valid and start the
    // installed program by name with its icon.
    void filesAndDesktopEntries()
    {
        QStringList expected{QStringLiteral("usr/share/doc/marquell/changelog.gz"),
                             QStringLiteral("usr/share/doc/marquell/copyright"),
                             QStringLiteral("usr/bin/marquell-phonelink"),
                             QStringLiteral("usr/share/man/man1/marquell-phonelink.1.gz")};
        for (const QString &program : kPrograms) {
            const QString id = QStringLiteral("com.orvanta-audio.") + program;
            const QString entry = "usr/share/applications/" + id + ".desktop";
            expected << "usr/bin/" + program << entry
                     << "usr/share/icons/hicolor/scalable/apps/" + id + ".svg"
                     << "usr/share/man/man1/" + program + ".1.gz";
            const ToolRun check =
                runTool(QStringLiteral("desktop-file-validate"), {installed(entry)});
            QCOMPARE(check.out, QString());
            QCOMPARE(check.status, 0);
            const QString text = read(installed(entry));
            QVERIFY2(text.contains("\nExec=" + program + "\nIcon=" + id + "\n"), qPrintable(text));
        }
        const QDir source(QStringLiteral(MARQUELL_SOURCE_DIR "/resources/remote_script"));
        for (const QString &name : source.entryList({QStringLiteral("*.py")}, QDir::Files)) {
            expected << kScriptDir + name;
            QCOMPARE(read(installed(kScriptDir + name)), read(source.filePath(name)));
        }
        expected.sort();
        QCOMPARE(m_files, expected);
    }

    void standardOptions_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("printed"); // over standard output and error; %1: the program
        QTest::newRow("--version") << "--version" << 0 << "^%1 " + kVersion + "\n$";
        QTest::newRow("--help") << "--help" << 0 << "^Usage: \\S*%1 \\[options\\]";
        QTest::newRow("unknown option") << "--bogus" << 1 << "Unknown option 'bogus'";
    }
    // Each shipped program answers and exits at once without starting anything.
    void standardOptions()
    {
        QFETCH(QString, argument);
        QFETCH(int, status);
        QFETCH(QString, printed);
        TempHome home;
        for (const QString &program : kPrograms + QStringList{"marquell-phonelink"}) {
            const ToolRun run = runTool(installed("usr/bin/" + program), {argument});
            QCOMPARE(run.status, status);
            const QRegularExpression pattern(QString(printed).replace("%1", program));
            QVERIFY2(run.out.contains(pattern), qPrintable(run.out));
            QVERIFY(!SingleInstanceLock::isHeld(SingleInstanceLock::daemonLockPath()));
        }
    }

    void runFromInstalledLayout_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<int>("setup");
        QTest::newRow("iOS Bridge") << "MarquellDaemon" << ScriptUpToDate;
        QTest::newRow("application") << "Marquell" << ScriptUpToDate;
        // Installs from the package's share folder, then waits behind the "installed" alert.
        QTest::newRow("application installs the script") << "Marquell" << EmptyUserLibrary;
        // The auto-start setting takes the iOS Bridge button's road.
        QTest::newRow("application starts the iOS Bridge") << "Marquell" << AutoStartDaemon;
    }
    // Each runs from the unpacked root and quits cleanly on SIGTERM.
    void runFromInstalledLayout()
    {
        QFETCH(QString, program);
        QFETCH(int, setup);
        const bool daemonRuns =
            program == QLatin1String("MarquellDaemon") || setup == AutoStartDaemon;
        TempHome home;
        home.writeServerJson(livebytes::portJson(ScriptedLiveServer::closedPort()));
        const QString library = qEnvironmentVariable("HOME") + "/Music/Ableton/User Library";
        const QString script = library + QStringLiteral("/Remote Scripts/Marquell/");
        QVERIFY(setup == EmptyUserLibrary ? QDir().mkpath(library)
                                          : write(script + ".installed-version", kVersion));
        if (setup == AutoStartDaemon)
            QVERIFY(
                write(qEnvironmentVariable("XDG_CONFIG_HOME") + "/orvanta-audio.com/Marquell.conf",
                      QStringLiteral("[General]\nAutoDaemonConnectEnabled=true\n")));
        const QString lock = SingleInstanceLock::daemonLockPath();
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), qEnvironmentVariable("HOME") + "/.local/share");
        process.setProcessEnvironment(env);
        process.start(installed(QStringLiteral("usr/bin/") + program));
        QByteArray output;
        const auto ready = [&] {
            output += process.readAllStandardOutput();
            if (daemonRuns)
                return SingleInstanceLock::isHeld(lock);
            if (setup == EmptyUserLibrary)
                return read(script + QStringLiteral(".installed-version")) == kVersion;
            return output.contains("Starting server detection loop.\n");
        };
        QVERIFY2(QTest::qWaitFor(ready, 20000), output.constData());
        if (setup == EmptyUserLibrary)
            QCOMPARE(read(script + "__init__.py"), read(installed(kScriptDir + "__init__.py")));
        if (daemonRuns) {
            qint64 pid = 0;
            QVERIFY(QLockFile(lock).getLockInfo(&pid, nullptr, nullptr));
            const QString exe = QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid));
            const bool stopped = pid == process.processId() ||
                                 terminate(pid, [&] { return !SingleInstanceLock::isHeld(lock); });
            QCOMPARE(exe, QFileInfo(installed("usr/bin/MarquellDaemon")).canonicalFilePath());
            QVERIFY(stopped);
        }
        QCOMPARE(process.state(), QProcess::Running);
        QVERIFY(terminate(process.processId(), [&] {
            return process.state() == QProcess::NotRunning || process.waitForFinished(10);
        }));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
