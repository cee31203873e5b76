// SPDX-License-Identifier: MIT
#include "appdelegate.h"
#include "detectorcontrol.h"
#include "log.h"
#include "persistentstore.h"
#include "scriptedprompts.h"
#include "scriptfixture.h"
#include "singleinstancelock.h"
#include "temphome.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <memory>

using scriptfixture::readFile;
using scriptfixture::writeFile;

namespace {

class RecordingDetector final : public DetectorControl
{
public:
    explicit RecordingDetector(QStringList &events) : m_events(events) {}
    void updateParameters(const QString &host, int port) override
    {
        m_events << QStringLiteral("update %1:%2").arg(host).arg(port);
    }
    void startDetection() override { m_events << QStringLiteral("start"); }

private:
    QStringList &m_events;
};

// Makes the next save fail the way a damaged store would: the table is gone.
bool dropPreferences(const QString &file)
{
    bool ok = false;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("saboteur"));
        db.setDatabaseName(file);
        ok = db.open() && QSqlQuery(db).exec(QStringLiteral("DROP TABLE Preferences"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("saboteur"));
    return ok;
}

const QString kInstalledInfo = QStringLiteral(
    "Version 1.5.0 was added to Live's User Library.\n\n"
    "Restart Live, then choose Marquell under Preferences → Link, Tempo & MIDI → Control Surface.");

} // namespace

class TestAppDelegate : public QObject
{
    Q_OBJECT

private:
    QString home() const { return m_home->path(); }
    QString shipped() const { return home() + QStringLiteral("/shipped"); }
    QString library() const { return home() + QStringLiteral("/Music/Ableton/User Library"); }
    QString daemonPath() const { return home() + QStringLiteral("/bin/MarquellDaemon"); }
    QString installedFile(const QString &lib) const
    {
        return lib + QStringLiteral("/Remote Scripts/Marquell/__init__.py");
    }

    std::unique_ptr<AppDelegate> makeDelegate(std::optional<QString> scriptFolder)
    {
        DaemonLocation daemon{daemonPath(), false, SingleInstanceLock::daemonLockPath()};
        auto delegate =
            std::make_unique<AppDelegate>(*m_settings, *m_store, *m_prompts, daemon, scriptFolder);
        delegate->setDetector(m_detector.get());
        return delegate;
    }
    std::unique_ptr<AppDelegate> makeDelegate() { return makeDelegate(shipped()); }

    std::unique_ptr<TempHome> m_home;
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<PersistentStore> m_store;
    std::unique_ptr<ScriptedPrompts> m_prompts;
    std::unique_ptr<RecordingDetector> m_detector;
    std::unique_ptr<mlog::Capture> m_log;
    QStringList m_events;

private slots:
    void initTestCase() { QCoreApplication::setApplicationVersion(QStringLiteral("1.5.0")); }

    void init()
    {
        m_home = std::make_unique<TempHome>();
        m_events.clear();
        m_settings = std::make_unique<QSettings>(home() + QStringLiteral("/settings.ini"),
                                                 QSettings::IniFormat);
        m_store = std::make_unique<PersistentStore>();
        QVERIFY(m_store->open(home() + QStringLiteral("/appdata")));
        m_prompts = std::make_unique<ScriptedPrompts>(m_events);
        m_detector = std::make_unique<RecordingDetector>(m_events);
        m_log = std::make_unique<mlog::Capture>();
        scriptfixture::writeShippedFiles(shipped(), QStringLiteral("v1.5"));
        QVERIFY(QDir().mkpath(library()));
        QVERIFY(QDir().mkpath(home() + QStringLiteral("/bin")));
    }

    void cleanup()
    {
        m_log.reset();
        m_detector.reset();
        m_prompts.reset();
        m_store.reset();
        m_settings.reset();
        m_home.reset();
    }

    // --- launch sequence ---

    void launchSequenceRunsInOrder()
    {
        m_settings->setValue(QStringLiteral("AutoDaemonConnectEnabled"), true);
        m_home->writeServerJson("{\"port\": 6100}");
        auto delegate = makeDelegate();
        delegate->setAppearanceHook([this] {
            m_events
                << QStringLiteral("appearance, system lines: %1").arg(m_log->systemLines().size());
        });
        delegate->setMidiSetupHook([this] { m_events << QStringLiteral("midi"); });

        delegate->applicationDidFinishLaunching();

        // The daemon step logged before the appearance step ran.
        QCOMPARE(m_events,
                 (QStringList{QStringLiteral("appearance, system lines: 1"),
                              QStringLiteral("inform: Marquell Remote Script installed"),
                              QStringLiteral("midi"), QStringLiteral("update 127.0.0.1:6100"),
                              QStringLiteral("start")}));
        QCOMPARE(m_log->systemLines(),
                 QStringList{QStringLiteral("MarquellBridge: helper missing at ") + daemonPath()});
    }

    void detectorPortFallbacks_data()
    {
        QTest::addColumn<QByteArray>("serverJson"); // empty: no file
        QTest::addColumn<int>("port");
        QTest::newRow("published") << QByteArray("{\"port\": 6100}") << 6100;
        QTest::newRow("port 0") << QByteArray("{\"port\": 0}") << 6000;
        QTest::newRow("port 70000") << QByteArray("{\"port\": 70000}") << 6000;
        QTest::newRow("port as text") << QByteArray("{\"port\": \"6100\"}") << 6000;
        QTest::newRow("not JSON") << QByteArray("port=6100") << 6000;
        QTest::newRow("no file") << QByteArray() << 6000;
    }
    void detectorPortFallbacks()
    {
        QFETCH(QByteArray, serverJson);
        QFETCH(int, port);
        if (!serverJson.isEmpty())
            m_home->writeServerJson(serverJson);
        makeDelegate()->applicationDidFinishLaunching();
        QCOMPARE(m_events.mid(m_events.size() - 2),
                 (QStringList{QStringLiteral("update 127.0.0.1:%1").arg(port),
                              QStringLiteral("start")}));
    }

    void installOutcomeAlerts_data()
    {
        QTest::addColumn<bool>("shipsScript");
        QTest::addColumn<QByteArray>("marker"); // empty: none
        QTest::addColumn<QString>("message");   // empty: no alert
        QTest::addColumn<QString>("informative");
        QTest::newRow("installed")
            << true << QByteArray() << QStringLiteral("Marquell Remote Script installed")
            << kInstalledInfo;
        QTest::newRow("updated")
            << true << QByteArray("1.4.0") << QStringLiteral("Marquell Remote Script updated")
            << QStringLiteral(
                   "Updated from 1.4.0 to 1.5.0.\n\nRestart Live to pick up the new version.");
        QTest::newRow("up to date") << true << QByteArray("1.5.0\n") << QString() << QString();
        QTest::newRow("failed") << false << QByteArray()
                                << QStringLiteral("Couldn't install the Marquell Remote Script")
                                << QStringLiteral("This build has no Resources folder.");
    }
    void installOutcomeAlerts()
    {
        QFETCH(bool, shipsScript);
        QFETCH(QByteArray, marker);
        QFETCH(QString, message);
        QFETCH(QString, informative);
        if (!marker.isEmpty())
            QVERIFY(writeFile(
                library() + QStringLiteral("/Remote Scripts/Marquell/.installed-version"), marker));
        auto delegate =
            makeDelegate(shipsScript ? std::optional<QString>(shipped()) : std::nullopt);
        delegate->presentInstallOutcome();
        if (message.isEmpty()) {
            QCOMPARE(m_events, QStringList());
            return;
        }
        QCOMPARE(m_events, QStringList{QStringLiteral("inform: ") + message});
        QCOMPARE(m_prompts->lastInformative, informative);
        QCOMPARE(m_prompts->lastButtons, QStringList{QStringLiteral("OK")});
    }

    void shippedVersionFallsBackToZero()
    {
        QCoreApplication::setApplicationVersion(QString());
        const QString version = AppDelegate::shippedVersion();
        QCoreApplication::setApplicationVersion(QStringLiteral("1.5.0"));
        QCOMPARE(version, QStringLiteral("0"));
        QCOMPARE(AppDelegate::shippedVersion(), QStringLiteral("1.5.0"));
    }

    // --- the User Library prompt ---

    void chosenFolderGetsTheScript()
    {
        QVERIFY(QDir(library()).removeRecursively());
        const QString chosen = home() + QStringLiteral("/Volumes/Audio/User Library");
        QVERIFY(QDir().mkpath(chosen));
        m_prompts->askAnswers = {0};
        m_prompts->folderAnswers = {chosen};

        makeDelegate()->presentInstallOutcome();

        QCOMPARE(
            m_events,
            (QStringList{QStringLiteral("ask: Where is Ableton's User Library?"),
                         QStringLiteral("choose: Select Ableton's User Library / Use This Folder"),
                         QStringLiteral("inform: Marquell Remote Script installed")}));
        QCOMPARE(m_settings->value(QStringLiteral("abletonUserLibraryPath")).toString(), chosen);
        QCOMPARE(
            readFile(installedFile(chosen)),
            scriptfixture::shippedContent(QStringLiteral("__init__.py"), QStringLiteral("v1.5")));
    }

    void laterOrDismissEndsTheChain_data()
    {
        QTest::addColumn<int>("answer");
        QTest::newRow("Later") << 1;
        QTest::newRow("dismissed") << -1;
    }
    void laterOrDismissEndsTheChain()
    {
        QFETCH(int, answer);
        QVERIFY(QDir(library()).removeRecursively());
        m_prompts->askAnswers = {answer};
        makeDelegate()->applicationDidFinishLaunching();
        QCOMPARE(m_events,
                 (QStringList{QStringLiteral("ask: Where is Ableton's User Library?"),
                              QStringLiteral("update 127.0.0.1:6000"), QStringLiteral("start")}));
        QVERIFY(!m_settings->contains(QStringLiteral("abletonUserLibraryPath")));
        QCOMPARE(m_prompts->lastInformative,
                 QStringLiteral("Marquell installs its Remote Script there, but nothing is at ") +
                     library() +
                     QStringLiteral(
                         ".\n\nYou'll find the location in Live under Preferences → Library."));
        QCOMPARE(m_prompts->lastButtons,
                 (QStringList{QStringLiteral("Choose…"), QStringLiteral("Later")}));
    }

    void chooserCancelledEndsTheChain()
    {
        QVERIFY(QDir(library()).removeRecursively());
        m_prompts->askAnswers = {0};
        m_prompts->folderAnswers = {std::nullopt};
        makeDelegate()->presentInstallOutcome();
        QCOMPARE(m_events,
                 (QStringList{
                     QStringLiteral("ask: Where is Ableton's User Library?"),
                     QStringLiteral("choose: Select Ableton's User Library / Use This Folder")}));
        QVERIFY(!m_settings->contains(QStringLiteral("abletonUserLibraryPath")));
    }

    void missingChosenFolderAsksAgain()
    {
        QVERIFY(QDir(library()).removeRecursively());
        const QString gone = home() + QStringLiteral("/Gone/User Library");
        const QString real = home() + QStringLiteral("/Real/User Library");
        QVERIFY(QDir().mkpath(real));
        m_prompts->askAnswers = {0, 0};
        m_prompts->folderAnswers = {gone, real};
        QStringList asked; // the folder each prompt names
        m_prompts->whileAsking = [&] {
            asked << m_prompts->lastInformative.section(QStringLiteral("nothing is at "), 1)
                         .section(QStringLiteral(".\n"), 0, 0);
        };

        makeDelegate()->presentInstallOutcome();

        QCOMPARE(
            m_events,
            (QStringList{QStringLiteral("ask: Where is Ableton's User Library?"),
                         QStringLiteral("choose: Select Ableton's User Library / Use This Folder"),
                         QStringLiteral("ask: Where is Ableton's User Library?"),
                         QStringLiteral("choose: Select Ableton's User Library / Use This Folder"),
                         QStringLiteral("inform: Marquell Remote Script installed")}));
        // The second prompt names the chosen folder, not the default one.
        QCOMPARE(asked, (QStringList{library(), gone}));
        QVERIFY(QFile::exists(installedFile(real)));
        QVERIFY(!QFileInfo::exists(gone));
        QCOMPARE(m_settings->value(QStringLiteral("abletonUserLibraryPath")).toString(), real);
    }

    // --- the daemon ---

    void autoDaemonSetting_data()
    {
        QTest::addColumn<QVariant>("setting");
        QTest::addColumn<bool>("attempted");
        QTest::newRow("absent") << QVariant() << false;
        QTest::newRow("false") << QVariant(false) << false;
        QTest::newRow("true") << QVariant(true) << true;
    }
    void autoDaemonSetting()
    {
        QFETCH(QVariant, setting);
        QFETCH(bool, attempted);
        if (setting.isValid())
            m_settings->setValue(QStringLiteral("AutoDaemonConnectEnabled"), setting);
        // The helper is missing, so an attempt shows as its log line.
        makeDelegate()->applicationDidFinishLaunching();
        QCOMPARE(m_log->systemLines().size(), attempted ? 1 : 0);
    }

    void runningDaemonIsLeftAlone()
    {
        SingleInstanceLock running(SingleInstanceLock::daemonLockPath());
        QVERIFY(running.tryAcquire());
        makeDelegate()->launchDaemonIfNeeded();
        // Neither "helper missing" nor a launch: the check stopped it first.
        QCOMPARE(m_log->systemLines(), QStringList());
    }

    void daemonStartsDetached()
    {
        const QString ran = home() + QStringLiteral("/daemon-ran");
        QVERIFY(
            writeFile(daemonPath(),
                      QStringLiteral("#!/bin/sh\necho \"started $#\" > '%1'\n").arg(ran).toUtf8()));
        QVERIFY(QFile::setPermissions(daemonPath(),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        makeDelegate()->launchDaemonIfNeeded();
        QTRY_COMPARE(readFile(ran), QByteArray("started 0\n"));
        QCOMPARE(m_log->systemLines(), QStringList());
    }

    void daemonThatCannotStartIsLogged()
    {
        QVERIFY(writeFile(daemonPath(), "not a program"));
        QVERIFY(QFile::setPermissions(daemonPath(), QFile::ReadOwner | QFile::WriteOwner));
        makeDelegate()->launchDaemonIfNeeded();
        const QStringList lines = m_log->systemLines();
        QCOMPARE(lines.size(), 1);
        const QString prefix = QStringLiteral("MarquellBridge: launch failed: ");
        QVERIFY2(lines[0].startsWith(prefix) && lines[0].size() > prefix.size(),
                 qPrintable(lines[0]));
    }

    void daemonLocations_data()
    {
        QTest::addColumn<QString>("executableFolder");
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("isBundle");
        QTest::newRow("Linux") << QStringLiteral("/opt/marquell/bin")
                               << QStringLiteral("/opt/marquell/bin/MarquellDaemon") << false;
        QTest::newRow("macOS")
            << QStringLiteral("/Applications/Marquell.app/Contents/MacOS")
            << QStringLiteral(
                   "/Applications/Marquell.app/Contents/Library/LoginItems/MarquellDaemon.app")
            << true;
    }
    void daemonLocations()
    {
        QFETCH(QString, executableFolder);
        QFETCH(QString, path);
        QFETCH(bool, isBundle);
        const DaemonLocation location = DaemonLocation::besideApplication(executableFolder);
        QCOMPARE(location.path, path);
        QCOMPARE(location.isBundle, isBundle);
        QCOMPARE(location.lockPath, SingleInstanceLock::daemonLockPath());
    }

    // --- the store, saving and quitting ---

    void unopenableStoreIsFatal()
    {
        const QString blocked = home() + QStringLiteral("/blocked");
        QVERIFY(writeFile(blocked, "a file where the folder goes"));
        PersistentStore store;
        AppDelegate delegate(*m_settings, store, *m_prompts, DaemonLocation{}, std::nullopt);
        QVERIFY(!delegate.openStore(blocked));
        const QStringList lines = m_log->systemLines();
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines[0].startsWith(QStringLiteral("Unresolved error ")) && lines[0].size() > 17,
                 qPrintable(lines[0]));
    }

    void nothingPendingQuitsAtOnce()
    {
        auto delegate = makeDelegate();
        QSignalSpy approved(delegate.get(), &AppDelegate::quitApproved);
        QCOMPARE(delegate->applicationShouldTerminate(), AppDelegate::TerminateReply::Now);
        delegate->requestQuit();
        QCOMPARE(approved.size(), 1);
        QCOMPARE(m_events, QStringList());
        QVERIFY(delegate->applicationShouldTerminateAfterLastWindowClosed());
    }

    void pendingChangeIsSavedOnQuit()
    {
        auto delegate = makeDelegate();
        QSignalSpy approved(delegate.get(), &AppDelegate::quitApproved);
        m_store->setLastPortUniqueID(1234);
        delegate->requestQuit();
        QCOMPARE(approved.size(), 1);
        QCOMPARE(m_events, QStringList());
        PersistentStore reopened;
        QVERIFY(reopened.open(home() + QStringLiteral("/appdata")));
        QCOMPARE(reopened.lastPortUniqueID(), std::optional<qint64>(1234));
    }

    void failedSaveOnQuit_data()
    {
        QTest::addColumn<bool>("recovered"); // what the error presentation answers
        QTest::addColumn<int>("answer");     // the quit alert's answer; unused when recovered
        QTest::addColumn<bool>("quits");
        QTest::newRow("Quit anyway") << false << 0 << true;
        QTest::newRow("Cancel") << false << 1 << false;
        // Escape must not throw the user's changes away.
        QTest::newRow("dismissed") << false << -1 << false;
        QTest::newRow("recovered from the error") << true << 0 << false;
    }
    void failedSaveOnQuit()
    {
        QFETCH(bool, recovered);
        QFETCH(int, answer);
        QFETCH(bool, quits);
        auto delegate = makeDelegate();
        QSignalSpy approved(delegate.get(), &AppDelegate::quitApproved);
        QVERIFY(dropPreferences(m_store->filePath()));
        m_store->setLastPortUniqueID(99);
        m_prompts->errorAnswers = {recovered};
        m_prompts->askAnswers = {answer};

        delegate->requestQuit();

        QCOMPARE(approved.size(), quits ? 1 : 0);
        QVERIFY(m_events.size() >= 1);
        QVERIFY2(m_events[0].startsWith(QStringLiteral("error: ")) && m_events[0].size() > 7,
                 qPrintable(m_events[0]));
        if (recovered) {
            QCOMPARE(m_events.size(), 1);
        } else {
            QCOMPARE(m_events.mid(1),
                     QStringList{QStringLiteral(
                         "ask: Could not save changes while quitting. Quit anyway?")});
            QCOMPARE(m_prompts->lastInformative,
                     QStringLiteral("Quitting now will lose any changes you have made since the "
                                    "last successful save"));
            QCOMPARE(m_prompts->lastButtons,
                     (QStringList{QStringLiteral("Quit anyway"), QStringLiteral("Cancel")}));
        }
        // Whatever the answer, the edit is still there to save.
        QVERIFY(m_store->hasChanges());
        QCOMPARE(m_store->lastPortUniqueID(), std::optional<qint64>(99));
    }

    void secondQuitRequestDuringTheAlertIsIgnored()
    {
        auto delegate = makeDelegate();
        QSignalSpy approved(delegate.get(), &AppDelegate::quitApproved);
        QVERIFY(dropPreferences(m_store->filePath()));
        m_store->setLastPortUniqueID(99);
        m_prompts->askAnswers = {0, 0};
        AppDelegate *d = delegate.get();
        m_prompts->whileAsking = [d] {
            d->requestQuit();
        }; // e.g. SIGTERM while the alert is up
        delegate->requestQuit();
        QCOMPARE(m_events.count(
                     QStringLiteral("ask: Could not save changes while quitting. Quit anyway?")),
                 1);
        QCOMPARE(approved.size(), 1);
    }

    void saveActionOnlyPresentsAFailure()
    {
        auto delegate = makeDelegate();
        QVERIFY(dropPreferences(m_store->filePath()));
        m_store->setLastPortUniqueID(7);
        delegate->saveAction();
        QCOMPARE(m_events.size(), 1);
        QVERIFY(m_events[0].startsWith(QStringLiteral("error: ")));
        QVERIFY(m_store->hasChanges());
    }
};

QTEST_GUILESS_MAIN(TestAppDelegate)
#include "tst_appdelegate.moc"
