// SPDX-License-Identifier: MIT
#include "appdelegate.h"
#include "detectorcontrol.h"
#include "lifecyclefixtures.h"
#include "log.h"
#include "persistentstore.h"
#include "singleinstancelock.h"
#include "temphome.h"
#include "userprompts.h"

#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

#include <functional>
#include <memory>
#include <utility>

using namespace lifecyclefixtures;

namespace {

// Answers the life cycle's questions from a script; every question and detector call
// goes into one event list, in order, every alert's text and buttons into alerts.
class ScriptedPrompts final : public UserPrompts, public DetectorControl
{
public:
    void inform(const QString &message, const QString &info) override
    {
        record(QStringLiteral("inform: ") + message, info, {QStringLiteral("OK")});
    }
    int ask(const QString &message, const QString &info, const QStringList &buttons) override
    {
        record(QStringLiteral("ask: ") + message, info, buttons);
        if (whileAsking)
            whileAsking();
        return askAnswers.isEmpty() ? -1 : askAnswers.takeFirst(); // unscripted: dismissed
    }
    std::optional<QString> chooseFolder(const QString &title, const QString &confirm) override
    {
        events << QStringLiteral("choose: %1 / %2").arg(title, confirm);
        return folderAnswers.isEmpty() ? std::nullopt : folderAnswers.takeFirst();
    }
    bool presentError(const QString &description) override
    {
        events << QStringLiteral("error: ") + description;
        return !errorAnswers.isEmpty() && errorAnswers.takeFirst();
    }
    void updateParameters(const QString &host, int port) override
    {
        events << QStringLiteral("update %1:%2").arg(host).arg(port);
    }
    void startDetection() override { events << QStringLiteral("start"); }

    QStringList events;
    QStringList alerts; // "<informative text> | <buttons>"
    QList<int> askAnswers;
    QList<std::optional<QString>> folderAnswers;
    QList<bool> errorAnswers;
    std::function<void()> whileAsking; // runs inside ask(), as if during the modal alert

private:
    void record(const QString &event, const QString &info, const QStringList &buttons)
    {
        events << event;
        alerts << info + QStringLiteral(" | ") + buttons.join(QStringLiteral(", "));
    }
};

const QString kInstalled = QStringLiteral("inform: Marquell Remote Script installed");
const QString kAskLibrary = QStringLiteral("ask: Where is Ableton's User Library?");
const QString kChooseLibrary =
    QStringLiteral("choose: Select Ableton's User Library / Use This Folder");
const QStringList kDetector = {QStringLiteral("update 127.0.0.1:6000"), QStringLiteral("start")};

} // namespace

class TestAppDelegate : public QObject
{
    Q_OBJECT

    QString home(const QString &name = QString()) const { return m->home.path() + '/' + name; }
    QString shipped() const { return home(QStringLiteral("shipped")); }
    QString library() const { return home(QStringLiteral("Music/Ableton/User Library")); }
    QString daemonPath() const { return home(QStringLiteral("bin/MarquellDaemon")); }
    static QString installed(const QString &lib, const QString &name = "__init__.py")
    {
        return lib + QStringLiteral("/Remote Scripts/Marquell/") + name;
    }

    std::unique_ptr<AppDelegate> makeDelegate(std::optional<QString> scriptFolder)
    {
        DaemonLocation daemon{daemonPath(), false, SingleInstanceLock::daemonLockPath()};
        auto delegate =
            std::make_unique<AppDelegate>(m->settings, m->store, m->prompts, daemon, scriptFolder);
        delegate->setDetector(&m->prompts);
        return delegate;
    }
    std::unique_ptr<AppDelegate> makeDelegate() { return makeDelegate(shipped()); }

    // One launch's world, torn down in reverse order after each test.
    struct World
    {
        TempHome home;
        QSettings settings{home.path() + QStringLiteral("/settings.ini"), QSettings::IniFormat};
        PersistentStore store;
        ScriptedPrompts prompts;
        mlog::Capture log;
    };
    std::unique_ptr<World> m;

private slots:
    void initTestCase() { QCoreApplication::setApplicationVersion(QStringLiteral("1.5.0")); }

    void init()
    {
        m = std::make_unique<World>();
        QVERIFY(m->store.open(home(QStringLiteral("appdata"))));
        writeShippedFiles(shipped(), QStringLiteral("v1.5"));
        QVERIFY(QDir().mkpath(library()) && QDir().mkpath(home(QStringLiteral("bin"))));
    }
    void cleanup() { m.reset(); }

    // The helper is missing, so a launch attempt shows as its system line, before the
    // appearance step; the detector starts last, on the published port or 6000.
    void launchSequenceRunsInOrder_data()
    {
        QTest::addColumn<QVariant>("autoDaemon");
        QTest::addColumn<QByteArray>("serverJson"); // empty: no file
        QTest::addColumn<int>("port");
        QTest::newRow("auto daemon absent, port 0")
            << QVariant() << QByteArray("{\"port\": 0}") << 6000;
        QTest::newRow("auto daemon off, no file") << QVariant(false) << QByteArray() << 6000;
        QTest::newRow("auto daemon on, port 6100")
            << QVariant(true) << QByteArray("{\"port\": 6100}") << 6100;
    }
    void launchSequenceRunsInOrder()
    {
        QFETCH(QVariant, autoDaemon);
        QFETCH(QByteArray, serverJson);
        QFETCH(int, port);
        if (autoDaemon.isValid())
            m->settings.setValue(QStringLiteral("AutoDaemonConnectEnabled"), autoDaemon);
        if (!serverJson.isEmpty())
            m->home.writeServerJson(serverJson);
        auto delegate = makeDelegate();
        delegate->setAppearanceHook([this] {
            m->prompts.events << QStringLiteral("appearance %1").arg(m->log.systemLines().size());
        });
        delegate->setMidiSetupHook([this] { m->prompts.events << QStringLiteral("midi"); });
        delegate->applicationDidFinishLaunching();
        const int launched = autoDaemon.toBool() ? 1 : 0;
        QCOMPARE(m->prompts.events,
                 (QStringList{QStringLiteral("appearance %1").arg(launched), kInstalled, "midi",
                              QStringLiteral("update 127.0.0.1:%1").arg(port), "start"}));
        QCOMPARE(m->log.systemLines(),
                 launched ? QStringList{"MarquellBridge: helper missing at " + daemonPath()}
                          : QStringList());
    }

    // The texts the user reads after an install, once each.
    void installOutcomeAlerts_data()
    {
        QTest::addColumn<bool>("shipsScript");
        QTest::addColumn<QByteArray>("marker"); // empty: none
        QTest::addColumn<QString>("alert");     // empty: no alert
        QTest::newRow("installed")
            << true << QByteArray()
            << QStringLiteral("Marquell Remote Script installed: Version 1.5.0 was added to Live's "
                              "User Library.\n\nRestart Live, then choose Marquell under "
                              "Preferences → Link, Tempo & MIDI → Control Surface.");
        QTest::newRow("updated") << true << QByteArray("1.4.0")
                                 << QStringLiteral("Marquell Remote Script updated: Updated from "
                                                   "1.4.0 to 1.5.0.\n\nRestart Live to pick up "
                                                   "the new version.");
        QTest::newRow("up to date") << true << QByteArray("1.5.0\n") << QString();
        QTest::newRow("failed") << false << QByteArray()
                                << QStringLiteral("Couldn't install the Marquell Remote Script: "
                                                  "This build has no Resources folder.");
    }
    void installOutcomeAlerts()
    {
        QFETCH(bool, shipsScript);
        QFETCH(QByteArray, marker);
        QFETCH(QString, alert);
        if (!marker.isEmpty())
            QVERIFY(writeFile(installed(library(), ".installed-version"), marker));
        makeDelegate(shipsScript ? std::optional<QString>(shipped()) : std::nullopt)
            ->presentInstallOutcome();
        QStringList shown;
        for (int i = 0; i < m->prompts.events.size(); ++i)
            shown << m->prompts.events[i].mid(8) + ": " + m->prompts.alerts[i].chopped(5);
        QCOMPARE(shown, alert.isEmpty() ? QStringList() : QStringList{alert});
    }

    // An empty application version still gives the marker a version.
    void shippedVersionFallsBackToZero()
    {
        QCoreApplication::setApplicationVersion(QString());
        const QString version = AppDelegate::shippedVersion();
        QCoreApplication::setApplicationVersion(QStringLiteral("1.5.0"));
        QCOMPARE(version, QStringLiteral("0"));
    }

    void userLibraryPrompt_data()
    {
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<QStringList>("folders"); // chosen, under the home; empty: cancelled
        QTest::addColumn<QString>("real");        // the one chosen folder that exists
        QTest::addColumn<QStringList>("events");
        QTest::newRow("Later") << QList<int>{1} << QStringList() << QString()
                               << QStringList{kAskLibrary};
        QTest::newRow("dismissed")
            << QList<int>{-1} << QStringList() << QString() << QStringList{kAskLibrary};
        QTest::newRow("chooser cancelled") << QList<int>{0} << QStringList{QString()} << QString()
                                           << QStringList{kAskLibrary, kChooseLibrary};
        QTest::newRow("missing choice asks again, then installs")
            << QList<int>{0, 0} << QStringList{"Gone/User Library", "Real/User Library"}
            << "Real/User Library"
            << QStringList{kAskLibrary, kChooseLibrary, kAskLibrary, kChooseLibrary, kInstalled};
    }
    void userLibraryPrompt()
    {
        QFETCH(QList<int>, answers);
        QFETCH(QStringList, folders);
        QFETCH(QString, real);
        QFETCH(QStringList, events);
        QVERIFY(QDir(library()).removeRecursively());
        if (!real.isEmpty())
            QVERIFY(QDir().mkpath(home(real)));
        m->prompts.askAnswers = answers;
        for (const QString &folder : folders)
            m->prompts.folderAnswers
                << (folder.isEmpty() ? std::nullopt : std::optional<QString>(home(folder)));
        makeDelegate()->applicationDidFinishLaunching();
        QCOMPARE(m->prompts.events, events + kDetector); // the launch goes on
        // Each prompt names where it looked: the default first, then the last choice.
        for (int i = 0; i < answers.size(); ++i)
            QCOMPARE(m->prompts.alerts.at(i),
                     QStringLiteral("Marquell installs its Remote Script there, but nothing is at "
                                    "%1.\n\nYou'll find the location in Live under Preferences → "
                                    "Library. | Choose…, Later")
                         .arg(i == 0 ? library() : home(folders.at(i - 1))));
        const QString key = QStringLiteral("abletonUserLibraryPath");
        QCOMPARE(m->settings.value(key).toString(), real.isEmpty() ? QString() : home(real));
        if (!real.isEmpty())
            QCOMPARE(readFile(installed(home(real))), shippedContent("__init__.py", "v1.5"));
    }

    void launchDaemon_data()
    {
        QTest::addColumn<QByteArray>("helper"); // the helper file; empty: none
        QTest::addColumn<bool>("running");
        QTest::addColumn<QString>("logged"); // the start of the one system line; empty: none
        // Neither "helper missing" nor a launch: the check stops it first.
        QTest::newRow("running daemon left alone") << QByteArray() << true << QString();
        QTest::newRow("starts detached, no arguments")
            << QByteArray("#!/bin/sh\necho \"started $#\" > \"$HOME/daemon-ran\"\n") << false
            << QString();
        QTest::newRow("cannot start") << QByteArray("not a program") << false
                                      << QStringLiteral("MarquellBridge: launch failed: ");
    }
    void launchDaemon()
    {
        QFETCH(QByteArray, helper);
        QFETCH(bool, running);
        QFETCH(QString, logged);
        SingleInstanceLock lock(SingleInstanceLock::daemonLockPath());
        QVERIFY(!running || lock.tryAcquire());
        const bool executable = helper.startsWith("#!");
        if (!helper.isEmpty()) {
            QVERIFY(writeFile(daemonPath(), helper));
            QVERIFY(QFile::setPermissions(
                daemonPath(), QFile::ReadOwner | QFile::WriteOwner |
                                  (executable ? QFile::ExeOwner : QFile::Permissions())));
        }
        makeDelegate()->launchDaemonIfNeeded();
        if (executable)
            QTRY_COMPARE(readFile(home(QStringLiteral("daemon-ran"))), QByteArray("started 0\n"));
        const QStringList lines = m->log.systemLines();
        QCOMPARE(lines.size(), logged.isEmpty() ? 0 : 1);
        QVERIFY(logged.isEmpty() ||
                (lines[0].startsWith(logged) && lines[0].size() > logged.size()));
    }

    void daemonLocations_data()
    {
        QTest::addColumn<QString>("executableFolder");
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("isBundle");
        QTest::newRow("Linux") << "/opt/m/bin"
                               << "/opt/m/bin/MarquellDaemon" << false;
        QTest::newRow("macOS") << "/A/Marquell.app/Contents/MacOS"
                               << "/A/Marquell.app/Contents/Library/LoginItems/MarquellDaemon.app"
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

    void unopenableStoreIsFatal()
    {
        QVERIFY(writeFile(home(QStringLiteral("blocked")), "a file where the folder goes"));
        PersistentStore store;
        AppDelegate delegate(m->settings, store, m->prompts, DaemonLocation{}, std::nullopt);
        QVERIFY(!delegate.openStore(home(QStringLiteral("blocked"))));
        QCOMPARE(m->log.systemLines().size(), 1);
        QVERIFY(m->log.systemLines()[0].startsWith(QStringLiteral("Unresolved error ")));
    }

    void quitRule_data()
    {
        QTest::addColumn<bool>("pending");
        QTest::addColumn<bool>("saveFails");
        QTest::addColumn<bool>("recovered"); // what the error presentation answers
        QTest::addColumn<int>("answer");     // the quit alert's answer
        QTest::addColumn<bool>("quits");
        QTest::newRow("nothing pending") << false << false << false << 0 << true;
        QTest::newRow("pending change saved") << true << false << false << 0 << true;
        QTest::newRow("Quit anyway") << true << true << false << 0 << true;
        QTest::newRow("Cancel") << true << true << false << 1 << false;
        // Escape must not throw the user's changes away.
        QTest::newRow("dismissed") << true << true << false << -1 << false;
        QTest::newRow("recovered from the error") << true << true << true << 0 << false;
    }
    void quitRule()
    {
        QFETCH(bool, pending);
        QFETCH(bool, saveFails);
        QFETCH(bool, recovered);
        QFETCH(int, answer);
        QFETCH(bool, quits);
        auto delegate = makeDelegate();
        QVERIFY(delegate->applicationShouldTerminateAfterLastWindowClosed());
        QSignalSpy approved(delegate.get(), &AppDelegate::quitApproved);
        if (saveFails) // the table is gone, as in a damaged store
            QVERIFY(peerExec(m->store.filePath(), QStringLiteral("DROP TABLE Preferences")));
        if (pending)
            m->store.setLastPortUniqueID(99);
        m->prompts.errorAnswers = {recovered};
        m->prompts.askAnswers = {answer};
        // A second request while the alert is up (another signal) must not stack alerts.
        bool requestedAgain = false;
        m->prompts.whileAsking = [&] {
            if (!std::exchange(requestedAgain, true))
                delegate->requestQuit();
        };
        delegate->requestQuit();

        QCOMPARE(approved.size(), quits ? 1 : 0);
        const std::optional<qint64> expected = pending ? std::optional<qint64>(99) : std::nullopt;
        if (!saveFails) {
            QCOMPARE(m->prompts.events, QStringList());
            PersistentStore reopened;
            QVERIFY(reopened.open(home(QStringLiteral("appdata"))));
            QCOMPARE(reopened.lastPortUniqueID(), expected);
            return;
        }
        QVERIFY(m->prompts.events.value(0).startsWith(QStringLiteral("error: ")));
        QCOMPARE(m->prompts.alerts,
                 recovered ? QStringList()
                           : QStringList{"Quitting now will lose any changes you have made "
                                         "since the last successful save | Quit anyway, Cancel"});
        QCOMPARE(m->prompts.events.mid(1),
                 recovered
                     ? QStringList()
                     : QStringList{"ask: Could not save changes while quitting. Quit anyway?"});
        QVERIFY(m->store.hasChanges()); // whatever the answer, the edit is still there to save
        QCOMPARE(m->store.lastPortUniqueID(), expected);

        // The save action presents only a failure, and keeps the edit too.
        m->prompts.events.clear();
        delegate->saveAction();
        QCOMPARE(m->prompts.events.size(), 1);
        QVERIFY(m->store.hasChanges());
    }
};

QTEST_GUILESS_MAIN(TestAppDelegate)
#include "tst_appdelegate.moc"
