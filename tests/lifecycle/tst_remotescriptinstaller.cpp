// SPDX-License-Identifier: MIT
#include "remotescriptinstaller.h"
#include "scriptfixture.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <system_error>

using namespace RemoteScriptInstaller;
using namespace scriptfixture;

namespace {

QString platformText(std::errc code)
{
    return QString::fromLocal8Bit(std::make_error_code(code).message().c_str());
}

} // namespace

// Each test gets a fresh home, shipped folder and default User Library.
class TestRemoteScriptInstaller : public QObject
{
    Q_OBJECT

private:
    QString home() const { return m_dir->path() + QStringLiteral("/home"); }
    QString shipped() const { return m_dir->path() + QStringLiteral("/shipped"); }
    QString outside() const { return m_dir->path() + QStringLiteral("/outside"); }
    QString library() const { return home() + QStringLiteral("/Music/Ableton/User Library"); }
    QString destination() const { return library() + QStringLiteral("/Remote Scripts/Marquell"); }
    QString dest(const QString &name) const { return destination() + QLatin1Char('/') + name; }
    QString marker() const { return dest(QStringLiteral(".installed-version")); }

    Environment env() const { return {shipped(), QStringLiteral("1.5.0"), std::nullopt, home()}; }

    Outcome run(const Environment &e) const { return installIfNeeded(e); }
    Outcome run() const { return run(env()); }

    void verifyShippedCopy(const QString &folder, const QString &tag)
    {
        for (const QString &name : remoteScriptFiles()) {
            const QString path = folder + QLatin1Char('/') + name;
            QVERIFY2(!isLink(path), qPrintable(path));
            QCOMPARE(readFile(path), shippedContent(name, tag));
        }
    }

    std::unique_ptr<QTemporaryDir> m_dir;

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        writeShippedFiles(shipped(), QStringLiteral("v1.5"));
        QVERIFY(QDir().mkpath(library()));
        QVERIFY(QDir().mkpath(outside()));
    }

    // --- what the build carries ---

    void noShippedFolderFails()
    {
        Environment e = env();
        e.sourceFolder.reset();
        QCOMPARE(describe(run(e)),
                 describe(Failed{QStringLiteral("This build has no Resources folder.")}));
        QVERIFY(!QFileInfo::exists(destination()));
    }

    void missingShippedFiles_data()
    {
        QTest::addColumn<QStringList>("removed");
        QTest::addColumn<QString>("listed");
        QTest::newRow("one") << QStringList{QStringLiteral("socket_manager.py")}
                             << QStringLiteral("socket_manager.py");
        // Listed in the shipped order, not the order they went missing.
        QTest::newRow("two, list order")
            << QStringList{QStringLiteral("setlist_manager.py"), QStringLiteral("__init__.py")}
            << QStringLiteral("__init__.py, setlist_manager.py");
        QTest::newRow("all")
            << remoteScriptFiles()
            << QStringLiteral("__init__.py, playback_controller.py, mapping_manager.py, "
                              "ableton_socket_server.py, socket_manager.py, setlist_manager.py");
    }
    void missingShippedFiles()
    {
        QFETCH(QStringList, removed);
        QFETCH(QString, listed);
        for (const QString &name : removed)
            QVERIFY(QFile::remove(shipped() + QLatin1Char('/') + name));
        const Outcome outcome = run();
        QCOMPARE(describe(outcome),
                 describe(Failed{
                     QStringLiteral("This build is missing part of the Remote Script: ") + listed +
                     QStringLiteral(". Check that Marquell_Python_Backend is still a member of the "
                                    "Marquell target.")}));
        // Nothing half-installed from an incomplete build.
        QVERIFY(!QFileInfo::exists(destination()));
    }

    // --- finding the User Library ---

    void defaultLibraryMissing()
    {
        QVERIFY(QDir(library()).removeRecursively());
        QCOMPARE(describe(run()), describe(LibraryNotFound{library()}));
    }

    void storedLibraryThatVanished()
    {
        // The default exists, but the stored choice wins and is what the prompt names.
        Environment e = env();
        e.chosenUserLibrary = m_dir->path() + QStringLiteral("/External/User Library");
        QCOMPARE(describe(run(e)), describe(LibraryNotFound{*e.chosenUserLibrary}));
        QVERIFY(!QFileInfo::exists(destination()));
    }

    void storedLibraryIsUsed()
    {
        Environment e = env();
        e.chosenUserLibrary = m_dir->path() + QStringLiteral("/Chosen");
        QVERIFY(QDir().mkpath(*e.chosenUserLibrary));
        QCOMPARE(describe(run(e)), describe(Installed{QStringLiteral("1.5.0")}));
        verifyShippedCopy(*e.chosenUserLibrary + QStringLiteral("/Remote Scripts/Marquell"),
                          QStringLiteral("v1.5"));
        QVERIFY(!QFileInfo::exists(destination()));
    }

    // --- installing and updating ---

    void freshInstall()
    {
        // No "Remote Scripts" folder yet: it is created.
        QCOMPARE(describe(run()), describe(Installed{QStringLiteral("1.5.0")}));
        verifyShippedCopy(destination(), QStringLiteral("v1.5"));
        QCOMPARE(readFile(marker()), QByteArray("1.5.0")); // no line end
        QCOMPARE(installedVersion(destination()), std::optional<QString>(QStringLiteral("1.5.0")));
    }

    void upToDateTouchesNothing_data()
    {
        QTest::addColumn<QByteArray>("markerContent");
        QTest::newRow("exact") << QByteArray("1.5.0");
        QTest::newRow("line end") << QByteArray("1.5.0\n");
        QTest::newRow("spaces and CRLF") << QByteArray("  1.5.0 \r\n");
    }
    void upToDateTouchesNothing()
    {
        QFETCH(QByteArray, markerContent);
        QVERIFY(writeFile(marker(), markerContent));
        QVERIFY(writeFile(dest(QStringLiteral("__init__.py")), "# edited by the user\n"));
        QVERIFY(writeFile(dest(QStringLiteral("old.py")), "# stale\n"));
        QCOMPARE(describe(run()), describe(UpToDate{QStringLiteral("1.5.0")}));
        QCOMPARE(readFile(dest(QStringLiteral("__init__.py"))),
                 QByteArray("# edited by the user\n"));
        QVERIFY(QFileInfo::exists(dest(QStringLiteral("old.py"))));
        QCOMPARE(readFile(marker()), markerContent);
    }

    void updateReplacesScriptAndKeepsUserFiles()
    {
        writeShippedFiles(destination(), QStringLiteral("v1.4"));
        QVERIFY(writeFile(marker(), "1.4.0"));
        QVERIFY(writeFile(dest(QStringLiteral("retired_module.py")), "# from 1.3\n"));
        QVERIFY(writeFile(dest(QStringLiteral("__pycache__/socket_manager.cpython-311.pyc")),
                          "bytecode"));
        QVERIFY(writeFile(dest(QStringLiteral("notes.txt")), "my notes"));
        QVERIFY(writeFile(dest(QStringLiteral("presets/a.json")), "{}"));
        QVERIFY(writeFile(dest(QStringLiteral("backup.py.txt")), "kept: not a .py"));

        QCOMPARE(describe(run()),
                 describe(Updated{QStringLiteral("1.4.0"), QStringLiteral("1.5.0")}));
        verifyShippedCopy(destination(), QStringLiteral("v1.5"));
        QVERIFY(!QFileInfo::exists(dest(QStringLiteral("retired_module.py"))));
        QVERIFY(!QFileInfo::exists(dest(QStringLiteral("__pycache__"))));
        QCOMPARE(readFile(dest(QStringLiteral("notes.txt"))), QByteArray("my notes"));
        QCOMPARE(readFile(dest(QStringLiteral("presets/a.json"))), QByteArray("{}"));
        QVERIFY(QFileInfo::exists(dest(QStringLiteral("backup.py.txt"))));
        QCOMPARE(readFile(marker()), QByteArray("1.5.0"));
        // A second launch finds it current.
        QCOMPARE(describe(run()), describe(UpToDate{QStringLiteral("1.5.0")}));
    }

    void olderShippedVersionStillReplaces()
    {
        writeShippedFiles(destination(), QStringLiteral("v2"));
        QVERIFY(writeFile(marker(), "2.0.0"));
        QCOMPARE(describe(run()),
                 describe(Updated{QStringLiteral("2.0.0"), QStringLiteral("1.5.0")}));
        verifyShippedCopy(destination(), QStringLiteral("v1.5"));
    }

    void unusableMarkerCountsAsNone_data()
    {
        QTest::addColumn<bool>("hasMarker");
        QTest::addColumn<QByteArray>("markerContent");
        QTest::newRow("no marker") << false << QByteArray();
        QTest::newRow("empty") << true << QByteArray();
        QTest::newRow("white space only") << true << QByteArray(" \n\t\n");
        QTest::newRow("not UTF-8") << true << QByteArray("\xff\xfe\x31");
    }
    void unusableMarkerCountsAsNone()
    {
        QFETCH(bool, hasMarker);
        QFETCH(QByteArray, markerContent);
        writeShippedFiles(destination(), QStringLiteral("v1.4"));
        if (hasMarker)
            QVERIFY(writeFile(marker(), markerContent));
        // Reported as a first install, not as an update from a made-up version.
        QCOMPARE(describe(run()), describe(Installed{QStringLiteral("1.5.0")}));
        verifyShippedCopy(destination(), QStringLiteral("v1.5"));
        QCOMPARE(readFile(marker()), QByteArray("1.5.0"));
    }

    void shippedVersionZero()
    {
        Environment e = env();
        e.shippedVersion = QStringLiteral("0");
        QCOMPARE(describe(run(e)), describe(Installed{QStringLiteral("0")}));
        QCOMPARE(readFile(marker()), QByteArray("0"));
    }

    // --- failures ---

    void destinationCannotBeCreated()
    {
        // A plain file where "Remote Scripts" must be a folder (chmod is no barrier to root).
        QVERIFY(writeFile(library() + QStringLiteral("/Remote Scripts"), "not a folder"));
        const Outcome outcome = run();
        const auto *failed = std::get_if<Failed>(&outcome);
        QVERIFY2(failed, qPrintable(describe(outcome)));
        QVERIFY2(failed->reason.contains(platformText(std::errc::not_a_directory)),
                 qPrintable(failed->reason));
        QVERIFY(failed->reason.contains(destination()));
        QCOMPARE(readFile(library() + QStringLiteral("/Remote Scripts")),
                 QByteArray("not a folder"));
    }

    void failedCopyKeepsEarlierFilesAndOldMarker()
    {
        writeShippedFiles(destination(), QStringLiteral("v1.4"));
        QVERIFY(writeFile(marker(), "1.4.0"));
        // The fifth file cannot be copied: in the shipped folder it is a folder.
        const QString broken = shipped() + QStringLiteral("/socket_manager.py");
        QVERIFY(QFile::remove(broken));
        QVERIFY(QDir().mkpath(broken));

        const Outcome outcome = run();
        const auto *failed = std::get_if<Failed>(&outcome);
        QVERIFY2(failed, qPrintable(describe(outcome)));
        QVERIFY2(failed->reason.contains(QStringLiteral("socket_manager.py")),
                 qPrintable(failed->reason));
        const QStringList files = remoteScriptFiles();
        for (int i = 0; i < 4; ++i)
            QCOMPARE(readFile(dest(files[i])), shippedContent(files[i], QStringLiteral("v1.5")));
        QVERIFY(!QFileInfo::exists(dest(files[4])));
        QVERIFY(!QFileInfo::exists(dest(files[5])));
        QCOMPARE(readFile(marker()), QByteArray("1.4.0"));
    }

    void unwritableMarkerIsRetriedNextTime()
    {
        QVERIFY(writeFile(dest(QStringLiteral(".installed-version/blocker")), "x"));
        const Outcome first = run();
        QVERIFY2(std::holds_alternative<Failed>(first), qPrintable(describe(first)));
        verifyShippedCopy(destination(), QStringLiteral("v1.5"));

        QVERIFY(QDir(marker()).removeRecursively());
        QCOMPARE(describe(run()), describe(Installed{QStringLiteral("1.5.0")}));
        QCOMPARE(readFile(marker()), QByteArray("1.5.0"));
    }

    // --- never leaving the destination ---

    void linkedPycacheLosesTheLinkNotTheTarget()
    {
        QVERIFY(writeFile(outside() + QStringLiteral("/cache/keep.pyc"), "precious"));
        QVERIFY(writeFile(outside() + QStringLiteral("/cache/module.py"), "# precious"));
        QVERIFY(QDir().mkpath(destination()));
        QVERIFY(
            makeLink(outside() + QStringLiteral("/cache"), dest(QStringLiteral("__pycache__"))));
        QVERIFY(writeFile(marker(), "1.4.0"));

        QCOMPARE(describe(run()),
                 describe(Updated{QStringLiteral("1.4.0"), QStringLiteral("1.5.0")}));
        QVERIFY(!QFileInfo::exists(dest(QStringLiteral("__pycache__"))) &&
                !isLink(dest(QStringLiteral("__pycache__"))));
        QCOMPARE(readFile(outside() + QStringLiteral("/cache/keep.pyc")), QByteArray("precious"));
        QCOMPARE(readFile(outside() + QStringLiteral("/cache/module.py")),
                 QByteArray("# precious"));
    }

    void linkInsideRealPycacheIsNotFollowed()
    {
        QVERIFY(writeFile(outside() + QStringLiteral("/data/keep.txt"), "precious"));
        QVERIFY(writeFile(dest(QStringLiteral("__pycache__/a.pyc")), "bytecode"));
        QVERIFY(makeLink(outside() + QStringLiteral("/data"),
                         dest(QStringLiteral("__pycache__/data"))));

        QCOMPARE(describe(run()), describe(Installed{QStringLiteral("1.5.0")}));
        QVERIFY(!QFileInfo::exists(dest(QStringLiteral("__pycache__"))));
        QCOMPARE(readFile(outside() + QStringLiteral("/data/keep.txt")), QByteArray("precious"));
    }

    void linkedScriptFileIsReplacedNotWrittenThrough()
    {
        QVERIFY(writeFile(outside() + QStringLiteral("/mine.py"), "# the user's own"));
        QVERIFY(QDir().mkpath(destination()));
        QVERIFY(makeLink(outside() + QStringLiteral("/mine.py"),
                         dest(QStringLiteral("setlist_manager.py"))));

        QCOMPARE(describe(run()), describe(Installed{QStringLiteral("1.5.0")}));
        verifyShippedCopy(destination(), QStringLiteral("v1.5"));
        QCOMPARE(readFile(outside() + QStringLiteral("/mine.py")), QByteArray("# the user's own"));
    }

    void linkedMarkerIsNeitherTrustedNorWrittenThrough()
    {
        // The link's target even holds the shipped version: still not ours.
        QVERIFY(writeFile(outside() + QStringLiteral("/version.txt"), "1.5.0"));
        writeShippedFiles(destination(), QStringLiteral("v1.4"));
        QVERIFY(makeLink(outside() + QStringLiteral("/version.txt"), marker()));

        QCOMPARE(describe(run()), describe(Installed{QStringLiteral("1.5.0")}));
        QVERIFY(!isLink(marker()));
        QCOMPARE(readFile(marker()), QByteArray("1.5.0"));
        QCOMPARE(readFile(outside() + QStringLiteral("/version.txt")), QByteArray("1.5.0"));
        QCOMPARE(QFileInfo(outside() + QStringLiteral("/version.txt")).size(), 5);
        QVERIFY(QFileInfo(outside() + QStringLiteral("/version.txt")).isFile());
    }

    void linkedDestinationIsRefused()
    {
        QVERIFY(writeFile(outside() + QStringLiteral("/elsewhere/other.py"), "# not ours"));
        QVERIFY(QDir().mkpath(library() + QStringLiteral("/Remote Scripts")));
        QVERIFY(makeLink(outside() + QStringLiteral("/elsewhere"), destination()));

        const Outcome outcome = run();
        const auto *failed = std::get_if<Failed>(&outcome);
        QVERIFY2(failed, qPrintable(describe(outcome)));
        QVERIFY(failed->reason.contains(destination()));
        QCOMPARE(
            QDir(outside() + QStringLiteral("/elsewhere")).entryList(QDir::Files | QDir::Hidden),
            QStringList{QStringLiteral("other.py")});
    }

    // --- where the shipped folder is found ---

    void shippedFolderLocations_data()
    {
        QTest::addColumn<QString>("executableFolder");
        QTest::addColumn<QString>("scriptFolder");
        QTest::newRow("build tree")
            << QStringLiteral("build/src/app") << QStringLiteral("build/src/app/remote_script");
        QTest::newRow("installed")
            << QStringLiteral("usr/bin") << QStringLiteral("usr/share/marquell/remote_script");
        QTest::newRow("macOS bundle") << QStringLiteral("Marquell.app/Contents/MacOS")
                                      << QStringLiteral("Marquell.app/Contents/Resources");
        QTest::newRow("none") << QStringLiteral("bare/bin") << QString();
    }
    void shippedFolderLocations()
    {
        QFETCH(QString, executableFolder);
        QFETCH(QString, scriptFolder);
        const QString root = m_dir->path() + QStringLiteral("/tree/");
        QVERIFY(QDir().mkpath(root + executableFolder));
        if (!scriptFolder.isEmpty())
            QVERIFY(QDir().mkpath(root + scriptFolder));
        const std::optional<QString> found = shippedFolder(root + executableFolder);
        if (scriptFolder.isEmpty())
            QCOMPARE(found, std::nullopt);
        else
            QCOMPARE(found.value_or(QString()), QDir::cleanPath(root + scriptFolder));
    }
};

QTEST_GUILESS_MAIN(TestRemoteScriptInstaller)
#include "tst_remotescriptinstaller.moc"
