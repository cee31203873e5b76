// SPDX-License-Identifier: MIT
#include "appdelegate.h"
#include "detectorcontrol.h"
#include "log.h"
#include "persistentstore.h"
#include "scriptfixture.h"
#include "singleinstancelock.h"
#include "storepeer.h"
#include "temphome.h"
#include "userprompts.h"

#include <QSettings>
#include <QtTest>

#include <functional>
#include <memory>
#include <utility>

using scriptfixture::readFile;
using scriptfixture::writeFile;

namespace {

// Answers the life cycle's questions from a script. Every question goes into the shared
// event list, in order; every alert's informative text and buttons into alerts.
class ScriptedPrompts final : public UserPrompts
{
public:
    explicit ScriptedPrompts(QStringList &events) : m_events(events) {}

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
        m_events << QStringLiteral("choose: ") + title + QStringLiteral(" / ") + confirm;
        return folderAnswers.isEmpty() ? std::nullopt : folderAnswers.takeFirst();
    }
    bool presentError(const QString &description) override
    {
        m_events << QStringLiteral("error: ") + description;
        return !errorAnswers.isEmpty() && errorAnswers.takeFirst();
    }

    QList<int> askAnswers;
    QList<std::optional<QString>> folderAnswers;
    QList<bool> errorAnswers;
    std::function<void()> whileAsking; // runs inside ask(), as if during the modal alert
    QStringList alerts;                // "<informative text> | <buttons>"

private:
    void record(const QString &event, const QString &info, const QStringList &buttons)
    {
        m_events << event;
        alerts << info + QStringLiteral(" | ") + buttons.join(QStringLiteral(", "));
    }
    QStringList &m_events;
};

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

const QString kInstalled = QStringLiteral("inform: Marquell Remote Script installed");
const QString kAskLibrary = QStringLiteral("ask: Where is Ableton's User Library?");
const QString kChooseLibrary =
    QStringLiteral("choose: Select Ableton's User Library / Use This Folder");
const QString kQuitAnyway =
    QStringLiteral("ask: Could not save changes while quitting. Quit anyway?");
const QStringList kDetector = {QStringLiteral("update 127.0.0.1:6000"), QStringLiteral("start")};

} // namespace

class TestAppDelegate : public QObject
{
    Q_OBJECT

    QString home(const QString &name = QString()) const
    {
        return name.isEmpty() ? m->home.path() : m->home.path() + QLatin1Char('/') + name;
    }
    QString shipped() const { return home(QStringLiteral("shipped")); }
    QString library() const { return home(QStringLiteral("Music/Ableton/User Library")); }
    QString daemonPath() const { return home(QStringLiteral("bin/MarquellDaemon")); }
    static QString installedFile(const QString &lib)
    {
        return lib + QStringLiteral("/Remote Scripts/Marquell/__init__.py");
    }

    std::unique_ptr<AppDelegate> makeDelegate(std::optional<QString> scriptFolder)
    {
        DaemonLocation daemon{daemonPath(), false, SingleInstanceLock::daemonLockPath()};
        auto delegate =
            std::make_unique<AppDelegate>(m->settings, m->store, m->prompts, daemon, scriptFolder);
        delegate->setDetector(&m->detector);
        return delegate;
    }
    std::unique_ptr<AppDelegate> makeDelegate() { return makeDelegate(shipped()); }

    // One launch's world, torn down in reverse order after each test.
    struct World
    {
        TempHome home;
        QSettings settings{home.path() + QStringLiteral("/settings.ini"), QSettings::IniFormat};
        PersistentStore store;
        QStringList events;
        ScriptedPrompts prompts{events};
        RecordingDetector detector{events};
        mlog::Capture log;
    };
    std::unique_ptr<World> m;

private slots:
    void initTestCase() { QCoreApplication::setApplicationVersion(QStringLiteral("1.5.0")); }

    void init()
    {
        m = std::make_unique<World>();
        QVERIFY(m->store.open(home(QStringLiteral("appdata"))));
        scriptfixture::writeShippedFiles(shipped(), QStringLiteral("v1.5"));
        QVERIFY(QDir().mkpath(library()));
        QVERIFY(QDir().mkpath(home(QStringLiteral("bin"))));
    }
    void cleanup() { m.reset(); }

    // --- launch sequence ---

    // The helper is missing, so a launch attempt shows as its log line; it comes before
    // the appearance step.
    void launchSequenceRunsInOrder_data()
    {
        QTest::addColumn<QVariant>("autoDaemon");
        QTest::addColumn<int>("daemonLines");
        QTest::newRow("auto daemon absent") << QVariant() << 0;
        QTest::newRow("auto daemon off") << QVariant(false) << 0;
        QTest::newRow("auto daemon on") << QVariant(true) << 1;
    }
    void launchSequenceRunsInOrder()
    {
        QFETCH(QVariant, autoDaemon);
        QFETCH(int, daemonLines);
        if (autoDaemon.isValid())
            m->settings.setValue(QStringLiteral("AutoDaemonConnectEnabled"), autoDaemon);
        m->home.writeServerJson("{\"port\": 6100}");
        auto delegate = makeDelegate();
        delegate->setAppearanceHook([this] {
            m->events
                << QStringLiteral("appearance, system lines: %1").arg(m->log.systemLines().size());
        });
        delegate->setMidiSetupHook([this] { m->events << QStringLiteral("midi"); });

        delegate->applicationDidFinishLaunching();

        QCOMPARE(m->events,
                 (QStringList{QStringLiteral("appearance, system lines: %1").arg(daemonLines),
                              kInstalled, QStringLiteral("midi"),
                              QStringLiteral("update 127.0.0.1:6100"), QStringLiteral("start")}));
        const QString missing = QStringLiteral("MarquellBridge: helper missing at ") + daemonPath();
        QCOMPARE(m->log.systemLines(), daemonLines ? QStringList{missing} : QStringList());
    }

    void detectorPortFallbacks_data()
    {
        // The file's own parsing is tested with the reader; port 0 is "none" to this one.
        QTest::addColumn<QByteArray>("serverJson"); // empty: no file
        QTest::newRow("port 0") << QByteArray("{\"port\": 0}");
        QTest::newRow("not JSON") << QByteArray("port=6100");
        QTest::newRow("no file") << QByteArray();
    }
    void detectorPortFallbacks()
    {
        QFETCH(QByteArray, serverJson);
        if (!serverJson.isEmpty())
            m->home.writeServerJson(serverJson);
        makeDelegate()->applicationDidFinishLaunching();
        QCOMPARE(m->events.mid(m->events.size() - 2), kDetector);
    }

    void installOutcomeAlerts_data()
    {
        QTest::addColumn<bool>("shipsScript");
        QTest::addColumn<QByteArray>("marker"); // empty: none
        QTest::addColumn<QString>("message");   // empty: no alert
        QTest::addColumn<QString>("informative");
        QTest::newRow("installed")
            << true << QByteArray() << QStringLiteral("Marquell Remote Script installed")
            << QStringLiteral("Version 1.5.0 was added to Live's User Library.\n\nRestart Live, "
                              "then choose Marquell under Preferences → Link, Tempo & MIDI → "
                              "Control Surface.");
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
            QVERIFY(
                writeFile(installedFile(library()).replace(QStringLiteral("__init__.py"),
                                                           QStringLiteral(".installed-version")),
                          marker));
        makeDelegate(shipsScript ? std::optional<QString>(shipped()) : std::nullopt)
            ->presentInstallOutcome();
        if (message.isEmpty()) {
            QCOMPARE(m->events, QStringList());
            return;
        }
        QCOMPARE(m->events, QStringList{QStringLiteral("inform: ") + message});
        QCOMPARE(m->prompts.alerts, QStringList{informative + QStringLiteral(" | OK")});
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
        QTest::newRow("chosen folder gets the script")
            << QList<int>{0} << QStringList{QStringLiteral("Volumes/Audio/User Library")}
            << QStringLiteral("Volumes/Audio/User Library")
            << QStringList{kAskLibrary, kChooseLibrary, kInstalled};
        QTest::newRow("missing choice asks again")
            << QList<int>{0, 0}
            << QStringList{QStringLiteral("Gone/User Library"), QStringLiteral("Real/User Library")}
            << QStringLiteral("Real/User Library")
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

        // The chain ends without stopping the launch.
        QCOMPARE(m->events, events + kDetector);
        // Each prompt names where it looked: the default first, then the last choice.
        for (int i = 0; i < answers.size(); ++i) {
            const QString looked = i == 0 ? library() : home(folders.at(i - 1));
            QCOMPARE(
                m->prompts.alerts.at(i),
                QStringLiteral("Marquell installs its Remote Script there, but nothing is at ") +
                    looked +
                    QStringLiteral(".\n\nYou'll find the location in Live under Preferences → "
                                   "Library. | Choose…, Later"));
        }
        const QString key = QStringLiteral("abletonUserLibraryPath");
        if (real.isEmpty()) {
            QVERIFY(!m->settings.contains(key));
            return;
        }
        QCOMPARE(m->settings.value(key).toString(), home(real));
        QCOMPARE(
            readFile(installedFile(home(real))),
            scriptfixture::shippedContent(QStringLiteral("__init__.py"), QStringLiteral("v1.5")));
        for (const QString &folder : folders)
            QVERIFY(folder == real || !QFileInfo::exists(home(folder)));
    }

    // --- the daemon ---

    void launchDaemon_data()
    {
        QTest::addColumn<QByteArray>("helper"); // the helper file; empty: none
        QTest::addColumn<bool>("executable");
        QTest::addColumn<bool>("running");
        QTest::addColumn<QString>("logged"); // the start of the one system line; empty: none
        // Neither "helper missing" nor a launch: the check stops it first.
        QTest::newRow("running daemon left alone") << QByteArray() << false << true << QString();
        QTest::newRow("starts detached")
            << QByteArray("#!/bin/sh\necho \"started $#\" > \"$HOME/daemon-ran\"\n") << true
            << false << QString();
        QTest::newRow("cannot start") << QByteArray("not a program") << false << false
                                      << QStringLiteral("MarquellBridge: launch failed: ");
    }
    void launchDaemon()
    {
        QFETCH(QByteArray, helper);
        QFETCH(bool, executable);
        QFETCH(bool, running);
        QFETCH(QString, logged);
        SingleInstanceLock lock(SingleInstanceLock::daemonLockPath());
        if (running)
            QVERIFY(lock.tryAcquire());
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
        if (!logged.isEmpty())
            QVERIFY2(lines[0].startsWith(logged) && lines[0].size() > logged.size(),
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
        const QString blocked = home(QStringLiteral("blocked"));
        QVERIFY(writeFile(blocked, "a file where the folder goes"));
        PersistentStore store;
        AppDelegate delegate(m->settings, store, m->prompts, DaemonLocation{}, std::nullopt);
        QVERIFY(!delegate.openStore(blocked));
        const QStringList lines = m->log.systemLines();
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines[0].startsWith(QStringLiteral("Unresolved error ")) && lines[0].size() > 17,
                 qPrintable(lines[0]));
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
            QCOMPARE(m->events, QStringList());
            PersistentStore reopened;
            QVERIFY(reopened.open(home(QStringLiteral("appdata"))));
            QCOMPARE(reopened.lastPortUniqueID(), expected);
            return;
        }
        QVERIFY2(m->events.value(0).startsWith(QStringLiteral("error: ")) &&
                     m->events[0].size() > 7,
                 qPrintable(m->events.value(0)));
        if (recovered) {
            QCOMPARE(m->events.size(), 1);
        } else {
            QCOMPARE(m->events.mid(1), QStringList{kQuitAnyway});
            QCOMPARE(m->prompts.alerts,
                     QStringList{QStringLiteral("Quitting now will lose any changes you have made "
                                                "since the last successful save | Quit anyway, "
                                                "Cancel")});
        }
        // Whatever the answer, the edit is still there to save.
        QVERIFY(m->store.hasChanges());
        QCOMPARE(m->store.lastPortUniqueID(), expected);
    }

    void saveActionOnlyPresentsAFailure()
    {
        auto delegate = makeDelegate();
        QVERIFY(peerExec(m->store.filePath(), QStringLiteral("DROP TABLE Preferences")));
        m->store.setLastPortUniqueID(7);
        delegate->saveAction();
        QCOMPARE(m->events.size(), 1);
        QVERIFY(m->events[0].startsWith(QStringLiteral("error: ")));
        QVERIFY(m->store.hasChanges());
    }
};

QTEST_GUILESS_MAIN(TestAppDelegate)
#include "tst_appdelegate.moc"
