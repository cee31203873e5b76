// SPDX-License-Identifier: MIT
#include "appdelegate.h"
#include "detectorcontrol.h"
#include "lifecyclefixtures.h"
#include "log.h"
#include "persistentstore.h"
#include "qtuserprompts.h"
#include "signalquitwatcher.h"
#include "singleinstancelock.h"
#include "temphome.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QSettings>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <csignal>
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
        events << QStringLiteral("inform: ") + message;
        alerts << info + QStringLiteral(" | OK");
    }
    int ask(const QString &message, const QString &info, const QStringList &buttons) override
    {
        events << QStringLiteral("ask: ") + message;
        alerts << info + QStringLiteral(" | ") + buttons.join(QStringLiteral(", "));
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
};

const QString kInstalled = QStringLiteral("inform: Marquell Remote Script installed");
const QString kAskLibrary = QStringLiteral("ask: Where is Ableton's User Library?");
const QString kChooseLibrary =
    QStringLiteral("choose: Select Ableton's User Library / Use This Folder");
const QStringList kDetector = {QStringLiteral("update 127.0.0.1:6000"), QStringLiteral("start")};

struct Outcome
{
    QString version;
    bool shipsScript;
    QByteArray marker; // empty: none
    QString alert;     // empty: no alert
};
struct LibraryAnswers
{
    QList<int> answers;
    QStringList folders; // chosen, under the home; empty: cancelled
    QString real;        // the one chosen folder that exists
    QStringList events;
};
struct Quit
{
    bool pending, saveFails, recovered; // recovered: what the error presentation answers
    int answer;                         // the quit alert's answer
    bool quits;
};

// Runs action on the real dialog once it is up.
void whenModal(std::function<void(QWidget *)> action)
{
    QTimer::singleShot(0, [action] {
        if (QWidget *modal = QApplication::activeModalWidget())
            action(modal);
        else
            whenModal(action);
    });
}

} // namespace

class TestAppDelegate : public QObject
{
    Q_OBJECT

    QString home(const QString &name = QString()) const { return m->home.path() + '/' + name; }
    QString appData() const { return home(QStringLiteral("appdata")); }
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
        QVERIFY(m->store.open(appData()));
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

    // The texts the user reads after an install, once each; an empty application
    // version still gives the marker a version.
    void installOutcomeAlerts_data()
    {
        QTest::addColumn<Outcome>("c");
        const QString installed = QStringLiteral("Marquell Remote Script installed: Version ");
        const QString added = QStringLiteral(
            " was added to Live's User Library.\n\nRestart Live, then choose Marquell under "
            "Preferences → Link, Tempo & MIDI → Control Surface.");
        QTest::newRow("installed") << Outcome{"1.5.0", true, {}, installed + "1.5.0" + added};
        QTest::newRow("no version") << Outcome{"", true, {}, installed + "0" + added};
        QTest::newRow("updated") << Outcome{
            "1.5.0", true, "1.4.0",
            "Marquell Remote Script updated: Updated from 1.4.0 "
            "to 1.5.0.\n\nRestart Live to pick up the new version."};
        QTest::newRow("up to date") << Outcome{"1.5.0", true, "1.5.0\n", {}};
        QTest::newRow("failed") << Outcome{"1.5.0",
                                           false,
                                           {},
                                           "Couldn't install the Marquell Remote Script: This "
                                           "build has no Resources folder."};
    }
    void installOutcomeAlerts()
    {
        QFETCH(Outcome, c);
        if (!c.marker.isEmpty())
            QVERIFY(writeFile(installed(library(), ".installed-version"), c.marker));
        QCoreApplication::setApplicationVersion(c.version);
        makeDelegate(c.shipsScript ? std::optional<QString>(shipped()) : std::nullopt)
            ->presentInstallOutcome();
        QCoreApplication::setApplicationVersion(QStringLiteral("1.5.0"));
        QStringList shown;
        for (int i = 0; i < m->prompts.events.size(); ++i)
            shown << m->prompts.events[i].mid(8) + ": " + m->prompts.alerts[i].chopped(5);
        QCOMPARE(shown, c.alert.isEmpty() ? QStringList() : QStringList{c.alert});
    }

    void userLibraryPrompt_data()
    {
        QTest::addColumn<LibraryAnswers>("c");
        QTest::newRow("Later") << LibraryAnswers{{1}, {}, {}, {kAskLibrary}};
        QTest::newRow("dismissed") << LibraryAnswers{{-1}, {}, {}, {kAskLibrary}};
        QTest::newRow("chooser cancelled")
            << LibraryAnswers{{0}, {QString()}, {}, {kAskLibrary, kChooseLibrary}};
        QTest::newRow("missing choice asks again, then installs") << LibraryAnswers{
            {0, 0},
            {"Gone/User Library", "Real/User Library"},
            "Real/User Library",
            {kAskLibrary, kChooseLibrary, kAskLibrary, kChooseLibrary, kInstalled}};
    }
    void userLibraryPrompt()
    {
        QFETCH(LibraryAnswers, c);
        const auto &[answers, folders, real, events] = c;
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
        QTest::newRow("cannot start")
            << QByteArray("not a program") << false << "MarquellBridge: launch failed: ";
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

    void daemonLocations()
    {
        const DaemonLocation plain =
            DaemonLocation::besideApplication(QStringLiteral("/opt/m/bin"));
        QCOMPARE(plain.path + (plain.isBundle ? " bundle" : ""),
                 QStringLiteral("/opt/m/bin/MarquellDaemon"));
        const DaemonLocation mac =
            DaemonLocation::besideApplication(QStringLiteral("/A/Marquell.app/Contents/MacOS"));
        QCOMPARE(mac.path + (mac.isBundle ? " bundle" : ""),
                 QStringLiteral(
                     "/A/Marquell.app/Contents/Library/LoginItems/MarquellDaemon.app bundle"));
        QCOMPARE(mac.lockPath, SingleInstanceLock::daemonLockPath());
    }

    // The first save inserts, later ones update the first record, even beside a peer's
    // later record; the value survives reopening.
    void storeUpdatesTheFirstRecord_data()
    {
        QTest::addColumn<qint64>("id");
        QTest::newRow("none selected") << qint64(-1);
        QTest::newRow("beyond 32 bits") << qint64(0x7fff'ffff'ffffLL);
    }
    void storeUpdatesTheFirstRecord()
    {
        QFETCH(qint64, id);
        QCoreApplication::setApplicationName(QStringLiteral("Marquell"));
        QVERIFY(PersistentStore::defaultFolder().startsWith(home()));
        PersistentStore &store = m->store;
        QCOMPARE(store.filePath(), appData() + QStringLiteral("/StageRun__Storyboard_.sqlite"));
        QCOMPARE(store.lastPortUniqueID(), std::nullopt);
        store.setLastPortUniqueID(11);
        QVERIFY(store.save() && store.save()); // then nothing to do, which is no failure
        QVERIFY(
            peerExec(store.filePath(), "INSERT INTO Preferences (lastPortUniqueID) VALUES (2)"));
        QCOMPARE(store.lastPortUniqueID(), std::optional<qint64>(11));
        store.setLastPortUniqueID(id);
        QVERIFY(store.hasChanges() && store.save() && !store.hasChanges());
        QCOMPARE(storedIds(store.filePath()), (QList<qint64>{id, 2}));
        PersistentStore again;
        QVERIFY(again.open(appData()));
        QCOMPARE(again.lastPortUniqueID(), std::optional<qint64>(id));
    }

    // The program ends with a system line; the edit stays pending.
    void unopenableStoreIsFatal_data()
    {
        QTest::addColumn<QString>("blocker"); // a plain file at this path relative to the folder
        QTest::newRow("folder is a file") << QString();
        QTest::newRow("store is not a database") << QStringLiteral("/StageRun__Storyboard_.sqlite");
    }
    void unopenableStoreIsFatal()
    {
        QFETCH(QString, blocker);
        const QString folder = home(QStringLiteral("blocked"));
        QVERIFY(writeFile(folder + blocker, QByteArray(4096, 'x')));
        PersistentStore store;
        AppDelegate delegate(m->settings, store, m->prompts, DaemonLocation{}, std::nullopt);
        QVERIFY(!delegate.openStore(folder));
        const QString prefix = QStringLiteral("Unresolved error ");
        const QStringList lines = m->log.systemLines();
        QVERIFY(lines.size() == 1 && lines[0].startsWith(prefix) &&
                lines[0].size() > prefix.size());
        store.setLastPortUniqueID(3);
        QVERIFY(!store.save() && store.hasChanges());
    }

    void quitRule_data()
    {
        QTest::addColumn<Quit>("c");
        QTest::newRow("nothing pending") << Quit{false, false, false, 0, true};
        QTest::newRow("pending change saved") << Quit{true, false, false, 0, true};
        QTest::newRow("Quit anyway") << Quit{true, true, false, 0, true};
        QTest::newRow("Cancel") << Quit{true, true, false, 1, false};
        // Escape must not throw the user's changes away.
        QTest::newRow("dismissed") << Quit{true, true, false, -1, false};
        QTest::newRow("recovered from the error") << Quit{true, true, true, 0, false};
    }
    void quitRule()
    {
        QFETCH(Quit, c);
        const auto &[pending, saveFails, recovered, answer, quits] = c;
        auto delegate = makeDelegate();
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
            QVERIFY(reopened.open(appData()));
            QCOMPARE(reopened.lastPortUniqueID(), expected);
            return;
        }
        // The store's own description first.
        QVERIFY(m->prompts.events.value(0).startsWith("error: ") &&
                m->prompts.events[0].size() > 7);
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

        // The save action presents only a failure, and keeps the edit too; once the
        // store works again the kept edit is what gets saved.
        m->prompts.events.clear();
        delegate->saveAction();
        QVERIFY(m->prompts.events.size() == 1 && m->store.hasChanges());
        QVERIFY(peerExec(m->store.filePath(), "CREATE TABLE Preferences (id INTEGER PRIMARY KEY "
                                              "AUTOINCREMENT, lastPortUniqueID INTEGER)"));
        delegate->saveAction();
        QCOMPARE(storedIds(m->store.filePath()), QList<qint64>{99});
    }

    void terminationBecomesOneQuitRequest_data()
    {
        QTest::addColumn<QList<int>>("raised");
        QTest::addColumn<int>("reported");
        QTest::newRow("SIGTERM") << QList<int>{SIGTERM} << int(SIGTERM);
        QTest::newRow("SIGINT") << QList<int>{SIGINT} << int(SIGINT);
        // Ctrl-C pressed twice before the loop ran: one request, not two stacked alerts.
        QTest::newRow("burst") << QList<int>{SIGINT, SIGINT, SIGTERM} << int(SIGTERM);
    }
    void terminationBecomesOneQuitRequest()
    {
        QFETCH(QList<int>, raised);
        QFETCH(int, reported);
        // One watcher owns the signals; each row's new one works only if the last let go.
        SignalQuitWatcher watcher, second;
        QVERIFY(watcher.isActive() && !second.isActive());
        QSignalSpy spy(&watcher, &SignalQuitWatcher::quitRequested);
        for (int sig : raised)
            QCOMPARE(std::raise(sig), 0); // the process survives: the handler only writes
        QTRY_COMPARE(spy.size(), 1);
        QTest::qWait(50); // a late second emission would show here
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), reported);
    }

    // The real alert: the answer is the pressed button's index, and Escape picks the
    // safe second button, never "Quit anyway".
    void realAlertAnswersTheButtonIndex_data()
    {
        QTest::addColumn<QString>("press"); // empty: dismiss with Escape
        QTest::addColumn<int>("index");
        QTest::newRow("first") << QStringLiteral("Quit anyway") << 0;
        QTest::newRow("second") << QStringLiteral("Cancel") << 1;
        QTest::newRow("escape") << QString() << 1;
    }
    void realAlertAnswersTheButtonIndex()
    {
        QFETCH(QString, press);
        QFETCH(int, index);
        QString seen;
        whenModal([&](QWidget *w) {
            auto *box = qobject_cast<QMessageBox *>(w);
            seen = box->text() + " / " + box->informativeText();
            if (press.isEmpty())
                QTest::keyClick(box, Qt::Key_Escape);
            for (QAbstractButton *b : box->buttons())
                if (b->text() == press)
                    b->click();
        });
        const int answer =
            QtUserPrompts().ask(QStringLiteral("Message"), QStringLiteral("Details"),
                                {QStringLiteral("Quit anyway"), QStringLiteral("Cancel")});
        QCOMPARE(answer, index);
        QCOMPARE(seen, QStringLiteral("Message / Details"));
    }

    void realChooserOffersFoldersOnly_data()
    {
        QTest::addColumn<bool>("accept");
        QTest::newRow("chosen") << true;
        QTest::newRow("cancelled") << false;
    }
    void realChooserOffersFoldersOnly()
    {
        QFETCH(bool, accept);
        QString seen;
        whenModal([&](QWidget *w) {
            auto *dialog = qobject_cast<QFileDialog *>(w);
            seen = dialog->windowTitle() + " / " + dialog->labelText(QFileDialog::Accept) +
                   (dialog->fileMode() == QFileDialog::Directory ? " / folders" : " / files");
            dialog->setDirectory(library());
            dialog->selectFile(library());
            accept ? static_cast<QDialog *>(dialog)->accept() : dialog->reject();
        });
        const std::optional<QString> chosen = QtUserPrompts().chooseFolder(
            QStringLiteral("Select a folder"), QStringLiteral("Use This Folder"));
        QCOMPARE(seen, QStringLiteral("Select a folder / Use This Folder / folders"));
        QCOMPARE(chosen, accept ? std::optional<QString>(library()) : std::nullopt);
    }
};

QTEST_MAIN(TestAppDelegate)
#include "tst_appdelegate.moc"
