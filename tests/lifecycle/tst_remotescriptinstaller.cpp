// SPDX-License-Identifier: MIT
#include "appdelegate.h"
#include "lifecyclefixtures.h"
#include "remotescriptinstaller.h"
#include "singleinstancelock.h"

#include <QTemporaryDir>
#include <QtTest>

#include <system_error>

using namespace RemoteScriptInstaller;
using namespace lifecyclefixtures;

class TestRemoteScriptInstaller : public QObject
{
    Q_OBJECT

    QString path(const QString &name) const { return m_dir->path() + QLatin1Char('/') + name; }
    QString shipped() const { return path("shipped"); }
    QString outside(const QString &name) const { return path("outside/" + name); }
    QString library() const { return path("home/Music/Ableton/User Library"); }
    QString destination() const { return library() + "/Remote Scripts/Marquell"; }
    QString dest(const QString &name) const { return destination() + QLatin1Char('/') + name; }
    QString marker() const { return dest(".installed-version"); }

    QString run() const
    {
        return describe(installIfNeeded({shipped(), "1.5.0", std::nullopt, path("home")}));
    }

    std::unique_ptr<QTemporaryDir> m_dir;

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        writeShippedFiles(shipped(), "v1.5");
        QVERIFY(QDir().mkpath(library()) && QDir().mkpath(outside(QString())));
    }

    // Listed in the shipped order, not the order they went missing.
    void brokenBuildInstallsNothing()
    {
        QVERIFY(QFile::remove(shipped() + "/setlist_manager.py"));
        QVERIFY(QFile::remove(shipped() + "/__init__.py"));
        QCOMPARE(run(), describe(Failed{
                            "This build is missing part of the Remote Script: __init__.py, "
                            "setlist_manager.py. Check that Marquell_Python_Backend is still a "
                            "member of the Marquell target."}));
        QVERIFY(!QFileInfo::exists(destination()));
    }

    // The marker decides. The shipped version leaves all as it was; else top-level .py
    // files and __pycache__ go, links removed, never followed or written through, and
    // the rest stays, .py files in subfolders and behind linked folders too. An unusable
    // marker is a first install, not an update from a made-up version.
    void markerDecides_data()
    {
        QTest::addColumn<QString>("kind"); // none, file or link
        QTest::addColumn<QByteArray>("markerContent");
        QTest::addColumn<bool>("linkedPycache"); // else a link inside a real one
        QTest::addColumn<QString>("outcome");
        const QString upToDate = "upToDate(1.5.0)";
        const QString installed = "installed(1.5.0)";
        QTest::newRow("exact") << "file" << QByteArray("1.5.0") << false << upToDate;
        QTest::newRow("spaces and CRLF")
            << "file" << QByteArray("  1.5.0 \r\n") << false << upToDate;
        QTest::newRow("older") << "file" << QByteArray("1.4.0") << true
                               << "updated(1.4.0 -> 1.5.0)";
        QTest::newRow("newer than shipped")
            << "file" << QByteArray("2.0.0") << false << "updated(2.0.0 -> 1.5.0)";
        QTest::newRow("fresh install") << "none" << QByteArray() << false << installed;
        QTest::newRow("empty") << "file" << QByteArray() << false << installed;
        QTest::newRow("white space only") << "file" << QByteArray(" \n\t\n") << false << installed;
        QTest::newRow("not UTF-8") << "file" << QByteArray("\xff\xfe\x31") << false << installed;
        // A linked marker is not ours even when its target holds the shipped version.
        QTest::newRow("link") << "link" << QByteArray("1.5.0") << true << installed;
    }
    void markerDecides()
    {
        QFETCH(QString, kind);
        QFETCH(QByteArray, markerContent);
        QFETCH(bool, linkedPycache);
        QFETCH(QString, outcome);
        const QString target = outside("version.txt");
        const QString pycache = dest("__pycache__");
        const QStringList kept{"notes.txt", "backup.py.txt", "presets/a.json", "presets/mine.py",
                               "samples/theirs.py"};
        // Behind a link named like a script file, the cache, and a folder of any name.
        const QStringList theirs{"mine.py", "cache/module.py", "samples/theirs.py"};
        if (kind != "none") {
            writeShippedFiles(destination(), "v1.4");
            QVERIFY(writeFile(dest("retired_module.py"), "# from 1.3\n"));
            for (const QString &name : theirs)
                QVERIFY(writeFile(outside(name), name.toUtf8()));
            QVERIFY(QFile::remove(dest("setlist_manager.py")));
            QVERIFY(QFile::link(outside("mine.py"), dest("setlist_manager.py")));
            if (!linkedPycache)
                QVERIFY(writeFile(pycache + "/a.pyc", "bytecode"));
            QVERIFY(QFile::link(outside("cache"), linkedPycache ? pycache : pycache + "/data"));
            QVERIFY(QFile::link(outside("samples"), dest("samples")));
            for (const QString &name : kept.first(4))
                QVERIFY(writeFile(dest(name), name.toUtf8()));
        }
        if (kind == "file")
            QVERIFY(writeFile(marker(), markerContent));
        if (kind == "link")
            QVERIFY(writeFile(target, markerContent) && QFile::link(target, marker()));

        QCOMPARE(run(), outcome);
        if (kind == "link")
            QCOMPARE(readFile(target), markerContent);
        if (outcome.startsWith("upToDate")) {
            QCOMPARE(readFile(dest("__init__.py")), shippedContent("__init__.py", "v1.4"));
            QVERIFY(QFileInfo::exists(dest("retired_module.py")));
            QCOMPARE(readFile(marker()), markerContent);
            return;
        }
        verifyShippedCopy(destination(), "v1.5");
        QVERIFY(!QFileInfo(marker()).isSymLink());
        QCOMPARE(readFile(marker()), QByteArray("1.5.0")); // no line end
        if (kind == "none")
            return;
        QVERIFY(!QFileInfo::exists(dest("retired_module.py")));
        QVERIFY(!QFileInfo::exists(pycache) && !QFileInfo(pycache).isSymLink());
        for (const QString &name : theirs)
            QCOMPARE(readFile(outside(name)), name.toUtf8());
        for (const QString &name : kept)
            QCOMPARE(readFile(dest(name)), name.toUtf8());
        QCOMPARE(run(), describe(UpToDate{"1.5.0"}));
    }

    void destinationCannotBeCreated()
    {
        // A plain file where "Remote Scripts" must be a folder (chmod is no barrier to root).
        QVERIFY(writeFile(library() + "/Remote Scripts", "not a folder"));
        const QString notADirectory = QString::fromLocal8Bit(
            std::make_error_code(std::errc::not_a_directory).message().c_str());
        QCOMPARE(run(), describe(Failed{"Couldn't create the folder " + destination() + ": " +
                                        notADirectory}));
        QCOMPARE(readFile(library() + "/Remote Scripts"), "not a folder");
    }

    // The fifth file cannot be copied (a folder in the shipped folder): the earlier ones
    // are in place, the later ones not, and the old marker stays.
    void failedCopyKeepsEarlierFilesAndOldMarker()
    {
        writeShippedFiles(destination(), "v1.4");
        QVERIFY(writeFile(marker(), "1.4.0"));
        const QString broken = shipped() + "/socket_manager.py";
        QVERIFY(QFile::remove(broken) && QDir().mkpath(broken));
        const QString outcome = run();
        QVERIFY2(outcome.startsWith("failed(Couldn't copy socket_manager.py"), qPrintable(outcome));
        const QStringList files = remoteScriptFiles();
        for (int i = 0; i < 4; ++i)
            QCOMPARE(readFile(dest(files[i])), shippedContent(files[i], "v1.5"));
        QVERIFY(!QFileInfo::exists(dest(files[4])) && !QFileInfo::exists(dest(files[5])));
        QCOMPARE(readFile(marker()), QByteArray("1.4.0"));
    }

    void unwritableMarkerIsRetriedNextTime()
    {
        QVERIFY(writeFile(dest(".installed-version/blocker"), "x"));
        QVERIFY(run().startsWith("failed(Couldn't write "));
        verifyShippedCopy(destination(), "v1.5");
        QVERIFY(QDir(marker()).removeRecursively());
        QCOMPARE(run(), describe(Installed{"1.5.0"}));
    }

    void linkedDestinationIsRefused()
    {
        QVERIFY(writeFile(outside("elsewhere/other.py"), "# not ours"));
        QVERIFY(QDir().mkpath(library() + "/Remote Scripts"));
        QVERIFY(QFile::link(outside("elsewhere"), destination()));
        QCOMPARE(run(), describe(Failed{destination() +
                                        QStringLiteral(" is a symbolic link. Marquell only "
                                                       "installs into a real folder.")}));
        QCOMPARE(QDir(outside("elsewhere")).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"other.py"});
    }

    // The shipped script and the daemon, found from the executable's folder.
    void besideTheExecutable_data()
    {
        QTest::addColumn<QString>("executableFolder");
        QTest::addColumn<QString>("scriptFolder"); // empty: none
        QTest::addColumn<QString>("daemon");
        QTest::newRow("installed or build tree") << "usr/bin"
                                                 << "usr/share/marquell/remote_script"
                                                 << "usr/bin/MarquellDaemon";
        QTest::newRow("macOS bundle")
            << "Marquell.app/Contents/MacOS"
            << "Marquell.app/Contents/Resources"
            << "Marquell.app/Contents/Library/LoginItems/MarquellDaemon.app bundle";
        QTest::newRow("none") << "bare/bin" << QString() << "bare/bin/MarquellDaemon";
    }
    void besideTheExecutable()
    {
        QFETCH(QString, executableFolder);
        QFETCH(QString, scriptFolder);
        QFETCH(QString, daemon);
        const QString root = path("tree/");
        QVERIFY(QDir().mkpath(root + executableFolder));
        if (!scriptFolder.isEmpty())
            QVERIFY(QDir().mkpath(root + scriptFolder));
        QCOMPARE(shippedFolder(root + executableFolder).value_or(QString()),
                 scriptFolder.isEmpty() ? QString() : QDir::cleanPath(root + scriptFolder));
        const DaemonLocation found = DaemonLocation::besideApplication(root + executableFolder);
        QCOMPARE(found.path + (found.isBundle ? " bundle" : ""), root + daemon);
        QCOMPARE(found.lockPath, SingleInstanceLock::daemonLockPath());
    }
};

QTEST_GUILESS_MAIN(TestRemoteScriptInstaller)
#include "tst_remotescriptinstaller.moc"
