// SPDX-License-Identifier: MIT
#include "remotescriptinstaller.h"
#include "scriptfixture.h"

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

QString missingReason(const QString &listed)
{
    return QStringLiteral("This build is missing part of the Remote Script: ") + listed +
           QStringLiteral(". Check that Marquell_Python_Backend is still a member of the "
                          "Marquell target.");
}

} // namespace

// Each test gets a fresh home, shipped folder and default User Library.
class TestRemoteScriptInstaller : public QObject
{
    Q_OBJECT

    QString path(const QString &name) const { return m_dir->path() + QLatin1Char('/') + name; }
    QString home() const { return path(QStringLiteral("home")); }
    QString shipped() const { return path(QStringLiteral("shipped")); }
    QString outside(const QString &name) const { return path(QStringLiteral("outside/") + name); }
    QString library() const { return home() + QStringLiteral("/Music/Ableton/User Library"); }
    QString destination() const { return library() + QStringLiteral("/Remote Scripts/Marquell"); }
    QString dest(const QString &name) const { return destination() + QLatin1Char('/') + name; }
    QString marker() const { return dest(QStringLiteral(".installed-version")); }

    Environment env() const { return {shipped(), QStringLiteral("1.5.0"), std::nullopt, home()}; }
    QString run(const Environment &e) const { return describe(installIfNeeded(e)); }
    QString run() const { return run(env()); }

    void verifyShippedCopy(const QString &folder, const QString &tag)
    {
        for (const QString &name : remoteScriptFiles()) {
            const QString file = folder + QLatin1Char('/') + name;
            QVERIFY2(!isLink(file), qPrintable(file));
            QCOMPARE(readFile(file), shippedContent(name, tag));
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
        QVERIFY(QDir().mkpath(outside(QString())));
    }

    // --- what the build carries ---

    void brokenBuildInstallsNothing_data()
    {
        QTest::addColumn<bool>("hasFolder");
        QTest::addColumn<QStringList>("removed");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no shipped folder")
            << false << QStringList() << QStringLiteral("This build has no Resources folder.");
        // Listed in the shipped order, not the order they went missing.
        QTest::newRow("two, list order")
            << true
            << QStringList{QStringLiteral("setlist_manager.py"), QStringLiteral("__init__.py")}
            << missingReason(QStringLiteral("__init__.py, setlist_manager.py"));
        QTest::newRow("all") << true << remoteScriptFiles()
                             << missingReason(QStringLiteral(
                                    "__init__.py, playback_controller.py, mapping_manager.py, "
                                    "ableton_socket_server.py, socket_manager.py, "
                                    "setlist_manager.py"));
    }
    void brokenBuildInstallsNothing()
    {
        QFETCH(bool, hasFolder);
        QFETCH(QStringList, removed);
        QFETCH(QString, reason);
        Environment e = env();
        if (!hasFolder)
            e.sourceFolder.reset();
        for (const QString &name : removed)
            QVERIFY(QFile::remove(shipped() + QLatin1Char('/') + name));
        QCOMPARE(run(e), describe(Failed{reason}));
        QVERIFY(!QFileInfo::exists(destination()));
    }

    // --- finding the User Library ---

    void userLibrary_data()
    {
        QTest::addColumn<QString>("chosen"); // the stored choice; empty: none, the default
        QTest::addColumn<bool>("exists");
        QTest::newRow("default missing") << QString() << false;
        // The default exists, but the stored choice wins and is what the prompt names.
        QTest::newRow("stored choice vanished") << QStringLiteral("External/User Library") << false;
        QTest::newRow("stored choice used") << QStringLiteral("Chosen") << true;
    }
    void userLibrary()
    {
        QFETCH(QString, chosen);
        QFETCH(bool, exists);
        Environment e = env();
        QString lib = library();
        if (chosen.isEmpty()) {
            QVERIFY(QDir(lib).removeRecursively());
        } else {
            e.chosenUserLibrary = lib = path(chosen);
            if (exists)
                QVERIFY(QDir().mkpath(lib));
        }
        if (!exists) {
            QCOMPARE(run(e), describe(LibraryNotFound{lib}));
        } else {
            QCOMPARE(run(e), describe(Installed{QStringLiteral("1.5.0")}));
            verifyShippedCopy(lib + QStringLiteral("/Remote Scripts/Marquell"),
                              QStringLiteral("v1.5"));
        }
        QVERIFY(!QFileInfo::exists(destination()));
    }

    // --- installing and updating ---

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
        QCOMPARE(run(), describe(UpToDate{QStringLiteral("1.5.0")}));
        QCOMPARE(readFile(dest(QStringLiteral("__init__.py"))),
                 QByteArray("# edited by the user\n"));
        QVERIFY(QFileInfo::exists(dest(QStringLiteral("old.py"))));
        QCOMPARE(readFile(marker()), markerContent);
    }

    void updateReplacesScriptAndKeepsUserFiles_data()
    {
        QTest::addColumn<QString>("installed");
        QTest::newRow("older") << QStringLiteral("1.4.0");
        QTest::newRow("newer than shipped") << QStringLiteral("2.0.0"); // still replaced
    }
    void updateReplacesScriptAndKeepsUserFiles()
    {
        QFETCH(QString, installed);
        writeShippedFiles(destination(), installed);
        QVERIFY(writeFile(marker(), installed.toUtf8()));
        QVERIFY(writeFile(dest(QStringLiteral("retired_module.py")), "# from 1.3\n"));
        QVERIFY(writeFile(dest(QStringLiteral("__pycache__/socket_manager.cpython-311.pyc")),
                          "bytecode"));
        QVERIFY(writeFile(dest(QStringLiteral("notes.txt")), "my notes"));
        QVERIFY(writeFile(dest(QStringLiteral("presets/a.json")), "{}"));
        QVERIFY(writeFile(dest(QStringLiteral("backup.py.txt")), "kept: not a .py"));

        QCOMPARE(run(), describe(Updated{installed, QStringLiteral("1.5.0")}));
        verifyShippedCopy(destination(), QStringLiteral("v1.5"));
        QVERIFY(!QFileInfo::exists(dest(QStringLiteral("retired_module.py"))));
        QVERIFY(!QFileInfo::exists(dest(QStringLiteral("__pycache__"))));
        QCOMPARE(readFile(dest(QStringLiteral("notes.txt"))), QByteArray("my notes"));
        QCOMPARE(readFile(dest(QStringLiteral("presets/a.json"))), QByteArray("{}"));
        QVERIFY(QFileInfo::exists(dest(QStringLiteral("backup.py.txt"))));
        QCOMPARE(readFile(marker()), QByteArray("1.5.0"));
        // A second launch finds it current.
        QCOMPARE(run(), describe(UpToDate{QStringLiteral("1.5.0")}));
    }

    // Reported as a first install, not as an update from a made-up version.
    void unusableMarkerCountsAsNone_data()
    {
        QTest::addColumn<QString>("kind"); // none, file or link
        QTest::addColumn<QByteArray>("markerContent");
        // No "Remote Scripts" folder yet: it is created.
        QTest::newRow("fresh install") << "none" << QByteArray();
        QTest::newRow("empty") << "file" << QByteArray();
        QTest::newRow("white space only") << "file" << QByteArray(" \n\t\n");
        QTest::newRow("not UTF-8") << "file" << QByteArray("\xff\xfe\x31");
        // A linked marker is not ours even when its target holds the shipped version.
        QTest::newRow("link") << "link" << QByteArray("1.5.0");
    }
    void unusableMarkerCountsAsNone()
    {
        QFETCH(QString, kind);
        QFETCH(QByteArray, markerContent);
        if (kind != QLatin1String("none"))
            writeShippedFiles(destination(), QStringLiteral("v1.4"));
        const QString target = outside(QStringLiteral("version.txt"));
        if (kind == QLatin1String("file"))
            QVERIFY(writeFile(marker(), markerContent));
        if (kind == QLatin1String("link"))
            QVERIFY(writeFile(target, markerContent) && QFile::link(target, marker()));
        QCOMPARE(run(), describe(Installed{QStringLiteral("1.5.0")}));
        verifyShippedCopy(destination(), QStringLiteral("v1.5"));
        QVERIFY(!isLink(marker()));
        QCOMPARE(readFile(marker()), QByteArray("1.5.0")); // no line end
        if (kind == QLatin1String("link")) {
            QVERIFY(QFileInfo(target).isFile());
            QCOMPARE(readFile(target), markerContent);
        }
    }

    // --- failures ---

    void destinationCannotBeCreated()
    {
        // A plain file where "Remote Scripts" must be a folder (chmod is no barrier to root).
        QVERIFY(writeFile(library() + QStringLiteral("/Remote Scripts"), "not a folder"));
        QCOMPARE(run(), describe(Failed{
                            QStringLiteral("Couldn't create the folder %1: %2")
                                .arg(destination(), platformText(std::errc::not_a_directory))}));
        QCOMPARE(readFile(library() + QStringLiteral("/Remote Scripts")),
                 QByteArray("not a folder"));
    }

    void failedCopyKeepsEarlierFilesAndOldMarker()
    {
        writeShippedFiles(destination(), QStringLiteral("v1.4"));
        QVERIFY(writeFile(marker(), "1.4.0"));
        // The fifth file cannot be copied: in the shipped folder it is a folder.
        const QString broken = shipped() + QStringLiteral("/socket_manager.py");
        QVERIFY(QFile::remove(broken) && QDir().mkpath(broken));

        const Outcome outcome = installIfNeeded(env());
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
        QVERIFY2(run().startsWith(QStringLiteral("failed(")), qPrintable(run()));
        verifyShippedCopy(destination(), QStringLiteral("v1.5"));

        QVERIFY(QDir(marker()).removeRecursively());
        QCOMPARE(run(), describe(Installed{QStringLiteral("1.5.0")}));
        QCOMPARE(readFile(marker()), QByteArray("1.5.0"));
    }

    // --- never leaving the destination ---

    void linksInsideAreNeverFollowed_data()
    {
        QTest::addColumn<bool>("linkedPycache");
        QTest::newRow("linked __pycache__") << true;
        QTest::newRow("link inside a real __pycache__") << false;
    }
    void linksInsideAreNeverFollowed()
    {
        QFETCH(bool, linkedPycache);
        QVERIFY(writeFile(outside(QStringLiteral("cache/keep.pyc")), "precious"));
        QVERIFY(writeFile(outside(QStringLiteral("cache/module.py")), "# precious"));
        QVERIFY(writeFile(outside(QStringLiteral("mine.py")), "# the user's own"));
        QVERIFY(writeFile(marker(), "1.4.0"));
        const QString pycache = dest(QStringLiteral("__pycache__"));
        if (linkedPycache) {
            QVERIFY(QFile::link(outside(QStringLiteral("cache")), pycache));
        } else {
            QVERIFY(writeFile(pycache + QStringLiteral("/a.pyc"), "bytecode"));
            QVERIFY(
                QFile::link(outside(QStringLiteral("cache")), pycache + QStringLiteral("/data")));
        }
        // A linked script file is replaced, not written through.
        QVERIFY(QFile::link(outside(QStringLiteral("mine.py")),
                            dest(QStringLiteral("setlist_manager.py"))));

        QCOMPARE(run(), describe(Updated{QStringLiteral("1.4.0"), QStringLiteral("1.5.0")}));
        verifyShippedCopy(destination(), QStringLiteral("v1.5"));
        QVERIFY(!QFileInfo::exists(pycache) && !isLink(pycache));
        QCOMPARE(readFile(outside(QStringLiteral("cache/keep.pyc"))), QByteArray("precious"));
        QCOMPARE(readFile(outside(QStringLiteral("cache/module.py"))), QByteArray("# precious"));
        QCOMPARE(readFile(outside(QStringLiteral("mine.py"))), QByteArray("# the user's own"));
    }

    void linkedDestinationIsRefused()
    {
        QVERIFY(writeFile(outside(QStringLiteral("elsewhere/other.py")), "# not ours"));
        QVERIFY(QDir().mkpath(library() + QStringLiteral("/Remote Scripts")));
        QVERIFY(QFile::link(outside(QStringLiteral("elsewhere")), destination()));
        QCOMPARE(run(), describe(Failed{
                            destination() +
                            QStringLiteral(" is a symbolic link. Marquell only installs into a "
                                           "real folder.")}));
        QCOMPARE(QDir(outside(QStringLiteral("elsewhere"))).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("other.py")});
    }

    // --- where the shipped folder is found ---

    void shippedFolderLocations_data()
    {
        QTest::addColumn<QString>("executableFolder");
        QTest::addColumn<QString>("scriptFolder");
        QTest::newRow("installed or build tree")
            << QStringLiteral("usr/bin") << QStringLiteral("usr/share/marquell/remote_script");
        QTest::newRow("macOS bundle") << QStringLiteral("Marquell.app/Contents/MacOS")
                                      << QStringLiteral("Marquell.app/Contents/Resources");
        QTest::newRow("none") << QStringLiteral("bare/bin") << QString();
    }
    void shippedFolderLocations()
    {
        QFETCH(QString, executableFolder);
        QFETCH(QString, scriptFolder);
        const QString root = path(QStringLiteral("tree/"));
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
