// SPDX-License-Identifier: MIT
#include "appdelegate.h"
#include "detectorcontrol.h"
#include "lifecyclefixtures.h"
#include "livebytes.h"
#include "log.h"
#include "persistentstore.h"
#include "qtuserprompts.h"
#include "scriptedliveserver.h"
#include "serverdetector.h"
#include "showwindow.h"
#include "signalquitwatcher.h"
#include "singleinstancelock.h"
#include "socketclient.h"
#include "songmanager.h"
#include "stagerunviewcontroller.h"
#include "temphome.h"
#include "transportmappings.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSettings>
#include <QTimer>
#include <QtTest>

#include <csignal>
#include <functional>
#include <memory>
#include <utility>

using namespace lifecyclefixtures;

namespace {

// Answers the life cycle's questions from a script and writes down, in order, every
// text the user is shown and every detector call.
class ScriptedPrompts final : public UserPrompts, public DetectorControl, public LaterAnswers
{
public:
    void inform(Tone tone, const QString &message, const QString &info) override
    {
        events << (tone == Tone::Warning ? "warning " : "") + message + ": " + info;
    }
    int ask(const QString &message, const QString &info, const QStringList &buttons) override
    {
        events << message + ": " + info + " | " + buttons.join(", ");
        if (whileAsking)
            whileAsking();
        return answers.isEmpty() ? -1 : answers.takeFirst().toInt(); // unscripted: dismissed
    }
    void askLater(const QString &message, const QString &info, const QStringList &buttons,
                  Answered answered) override
    {
        events << message + ": " + info + " | " + buttons.join(", ");
        const int answer = answers.isEmpty() ? -1 : answers.takeFirst().toInt();
        later([answered, answer] { answered(answer); });
    }
    void chooseFolder(const QString &title, const QString &confirm, Chosen chosen) override
    {
        events << title + QStringLiteral(" | ") + confirm;
        QString folder = answers.isEmpty() ? QString() : answers.takeFirst().toString();
        later([chosen, folder]() mutable {
            chosen(folder.isEmpty() ? std::nullopt
                                    : std::optional(folder.replace("~/", QDir::homePath() + '/')));
        });
    }
    bool presentError(const QString &description) override
    {
        events << QStringLiteral("error: ") + description;
        return !answers.isEmpty() && answers.takeFirst().toBool();
    }
    void updateParameters(const QString &host, int port) override
    {
        events << QStringLiteral("update %1:%2").arg(host).arg(port);
    }
    void startDetection() override { events << QStringLiteral("start"); }

    QStringList events;
    // Taken in turn: a button's index, a folder ("~/" the home; null: cancelled), recovered.
    QVariantList answers;
    std::function<void()> whileAsking; // runs inside ask(), as if during the modal alert
};

QString installedAlert(const QString &version)
{
    return "Marquell Remote Script installed: Version " + version +
           " was added to Live's User Library.\n\nRestart Live, then choose Marquell under "
           "Preferences → Link, Tempo & MIDI → Control Surface.";
}
QString libraryQuestion(const QString &where)
{
    return "Where is Ableton's User Library?: Marquell installs its Remote Script there, but "
           "nothing is at " +
           where +
           ".\n\nYou'll find the location in Live under Preferences → Library. | Choose…, Later";
}
const QString kChooser = QStringLiteral("Select Ableton's User Library | Use This Folder");

// One launch: what the home holds, how the user answers and what the user is shown.
// "~/" in texts and folders stands for the temporary home.
struct Launch
{
    QVariant autoDaemon{};   // the stored switch; absent unless given
    QByteArray helper{};     // the daemon's file; empty: none
    bool running = false;    // another daemon holds the lock
    QStringList logged{};    // the system lines; the error text of a failed launch reads "…"
    QByteArray serverJson{}; // empty: no file
    QString stored{};        // the User Library choice stored before
    int port = 6000;         // where the detector looks
    QString version = QStringLiteral("1.5.0"); // the application's
    bool shipsScript = true;
    QByteArray marker{};    // an earlier install's; empty: none
    bool noLibrary = false; // the default User Library is missing
    QVariantList answers{}; // to the prompts, in turn
    QString chosen{};       // the chosen folder that exists and gets the script
    // Between the appearance step and MIDI; the install's alert unless given.
    QStringList shown = {installedAlert(QStringLiteral("1.5.0"))};
};
struct Quit
{
    bool pending, saveFails, recovered; // recovered: what the error presentation answers
    int answer;                         // the quit alert's answer
    bool quits;
};

} // namespace

class TestAppDelegate : public QObject
{
    Q_OBJECT

    QString home(const QString &name = QString()) const { return m->home.path() + '/' + name; }
    QString resolve(QString text) const { return text.replace(QStringLiteral("~/"), home()); }
    QString appData() const { return home(QStringLiteral("appdata")); }
    QString shipped() const { return home(QStringLiteral("shipped")); }
    QString library() const { return home(QStringLiteral("Music/Ableton/User Library")); }
    QString daemonPath() const { return home(QStringLiteral("bin/MarquellDaemon")); }

    std::unique_ptr<AppDelegate> makeDelegate(const std::optional<QString> &scriptFolder)
    {
        DaemonLocation daemon{daemonPath(), false, SingleInstanceLock::daemonLockPath()};
        auto delegate =
            std::make_unique<AppDelegate>(m->settings, m->store, m->prompts, daemon, scriptFolder);
        delegate->setDetector(&m->prompts);
        return delegate;
    }

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
    void init()
    {
        QCoreApplication::setApplicationVersion(QStringLiteral("1.5.0"));
        m = std::make_unique<World>();
        QVERIFY(m->store.open(appData()));
        writeShippedFiles(shipped(), QStringLiteral("v1.5"));
        QVERIFY(QDir().mkpath(library()));
    }
    void cleanup() { m.reset(); }

    // The daemon when switched on (an attempt logs before the appearance step), the
    // install's first alert, MIDI, and the detector on the published port or 6000, then
    // whatever the user's answers lead to.
    void launch_data()
    {
        QTest::addColumn<Launch>("c");
        const QString askDefault = libraryQuestion(QStringLiteral("~/Music/Ableton/User Library"));
        QTest::newRow("auto daemon off, port 0")
            << Launch{.autoDaemon = false, .serverJson = "{\"port\": 0}"};
        QTest::newRow("helper missing, port 6100")
            << Launch{.autoDaemon = true,
                      .logged = {"MarquellBridge: helper missing at ~/bin/MarquellDaemon"},
                      .serverJson = "{\"port\": 6100}",
                      .port = 6100};
        // Neither "helper missing" nor a launch: the check stops it first.
        QTest::newRow("running daemon left alone") << Launch{.autoDaemon = true, .running = true};
        QTest::newRow("daemon starts detached, no arguments")
            << Launch{.autoDaemon = true,
                      .helper = "#!/bin/sh\necho \"started $#\" > \"$HOME/daemon-ran\"\n"};
        QTest::newRow("daemon cannot start")
            << Launch{.autoDaemon = true,
                      .helper = "not a program",
                      .logged = {"MarquellBridge: launch failed: …"}};
        // An empty application version still gives the marker a version.
        QTest::newRow("no version") << Launch{.version = "", .shown = {installedAlert("0")}};
        QTest::newRow("updated") << Launch{
            .marker = "1.4.0",
            .shown = {"Marquell Remote Script updated: Updated from 1.4.0 to 1.5.0.\n\nRestart "
                      "Live to pick up the new version."}};
        QTest::newRow("up to date") << Launch{.marker = "1.5.0\n", .shown = {}};
        QTest::newRow("no script shipped") << Launch{
            .shipsScript = false,
            .shown = {"warning Couldn't install the Marquell Remote Script: This build has no "
                      "Resources folder."}};
        // A stored choice wins over the default, even a vanished one.
        QTest::newRow("stored choice used") << Launch{.stored = "~/Chosen", .chosen = "~/Chosen"};
        QTest::newRow("stored choice vanished")
            << Launch{.stored = "~/External/User Library",
                      .shown = {libraryQuestion("~/External/User Library")}};
        // Each prompt names where it looked: the default first, then the last choice.
        QTest::newRow("Later") << Launch{.noLibrary = true, .answers = {1}, .shown = {askDefault}};
        QTest::newRow("dismissed") << Launch{.noLibrary = true, .shown = {askDefault}};
        QTest::newRow("chooser cancelled") << Launch{
            .noLibrary = true, .answers = {0, QVariant()}, .shown = {askDefault, kChooser}};
        QTest::newRow("missing choice asks again, then installs")
            << Launch{.noLibrary = true,
                      .answers = {0, "~/Gone/User Library", 0, "~/Real/User Library"},
                      .chosen = "~/Real/User Library",
                      .shown = {askDefault, kChooser, libraryQuestion("~/Gone/User Library"),
                                kChooser, installedAlert("1.5.0")}};
    }
    void launch()
    {
        QFETCH(Launch, c);
        m->settings.setValue(QStringLiteral("AutoDaemonConnectEnabled"), c.autoDaemon);
        SingleInstanceLock lock(SingleInstanceLock::daemonLockPath());
        QVERIFY(!c.running || lock.tryAcquire());
        if (!c.helper.isEmpty())
            QVERIFY(writeFile(daemonPath(), c.helper) &&
                    QFile::setPermissions(daemonPath(), QFile::ReadOwner | QFile::ExeOwner));
        if (!c.serverJson.isEmpty())
            m->home.writeServerJson(c.serverJson);
        if (!c.stored.isEmpty())
            m->settings.setValue(QStringLiteral("abletonUserLibraryPath"), resolve(c.stored));
        if (!c.marker.isEmpty())
            QVERIFY(writeFile(library() + "/Remote Scripts/Marquell/.installed-version", c.marker));
        if (c.noLibrary)
            QVERIFY(QDir(library()).removeRecursively());
        if (!c.chosen.isEmpty())
            QVERIFY(QDir().mkpath(resolve(c.chosen)));
        m->prompts.answers = c.answers;
        QCoreApplication::setApplicationVersion(c.version);
        auto delegate =
            makeDelegate(c.shipsScript ? std::optional<QString>(shipped()) : std::nullopt);
        delegate->setAppearanceHook([this] {
            m->prompts.events << QStringLiteral("appearance %1").arg(m->log.systemLines().size());
        });
        delegate->setMidiSetupHook([this] { m->prompts.events << QStringLiteral("midi"); });
        delegate->applicationDidFinishLaunching();
        QTRY_COMPARE(m->prompts.pending, 0);

        if (c.helper.startsWith("#!"))
            QTRY_COMPARE(readFile(home(QStringLiteral("daemon-ran"))), QByteArray("started 0\n"));
        // The first alert opens, the launch goes on; what the answers bring follows.
        QStringList expected{QStringLiteral("appearance %1").arg(c.logged.size())};
        expected << c.shown.mid(0, 1) << QStringLiteral("midi")
                 << QStringLiteral("update 127.0.0.1:%1").arg(c.port) << QStringLiteral("start")
                 << c.shown.mid(1);
        QCOMPARE(m->prompts.events, expected.replaceInStrings(QStringLiteral("~/"), home()));
        QStringList lines = m->log.systemLines();
        lines.replaceInStrings(QRegularExpression(QStringLiteral("(launch failed: ).+")),
                               QStringLiteral("\\1…"));
        QCOMPARE(lines, c.logged.replaceInStrings(QStringLiteral("~/"), home()));
        QCOMPARE(m->settings.value(QStringLiteral("abletonUserLibraryPath")).toString(),
                 resolve(c.chosen.isEmpty() ? c.stored : c.chosen));
        if (c.chosen.isEmpty())
            return;
        verifyShippedCopy(resolve(c.chosen) + "/Remote Scripts/Marquell", "v1.5");
        QVERIFY(!QFileInfo::exists(library() + "/Remote Scripts"));
    }

    // Live appears while a launch alert is still open: the window connects all the same.
    void windowConnectsWhileLaunchAlertIsOpen_data()
    {
        QTest::addColumn<bool>("noLibrary");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("icon");
        QTest::newRow("User Library question")
            << true << "Where is Ableton's User Library?" << int(QMessageBox::Warning);
        QTest::newRow("installed notice")
            << false << "Marquell Remote Script installed" << int(QMessageBox::Information);
    }
    void windowConnectsWhileLaunchAlertIsOpen()
    {
        QFETCH(bool, noLibrary);
        QFETCH(QString, text);
        QFETCH(int, icon);
        if (noLibrary)
            QVERIFY(QDir(library()).removeRecursively());
        m->home.writeServerJson(livebytes::portJson(ScriptedLiveServer::closedPort()));
        TransportMappings mappings;
        SocketClient client{mappings};
        SongManager songs{client};
        ServerDetector detector{client};
        DetectorAdapter<ServerDetector> adapter{detector};
        client.setSongManager(&songs);
        client.setServerDetector(&detector);
        QtUserPrompts prompts;
        AppDelegate delegate(m->settings, m->store, prompts, DaemonLocation{}, shipped());
        delegate.setDetector(&adapter);
        ShowWindowServices services{songs, client, delegate};
        const auto window = createShowWindow(services);
        StagerunViewController *pane = window->delegatePane();
        client.setServerDetectorDelegate(pane);
        detector.setDelegate(pane);
        prompts.setParentWidget(window.get());
        window->show();
        delegate.applicationDidFinishLaunching();

        auto *alert = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QVERIFY(alert && alert->isVisible());
        QCOMPARE(alert->text(), text);
        QCOMPARE(int(alert->icon()), icon);
        ScriptedLiveServer live;
        live.setGreeting(livebytes::frame(livelink::kServerIdentity));
        m->home.writeServerJson(livebytes::portJson(live.port()));
        QTRY_COMPARE_WITH_TIMEOUT(window->setlistPane()->serverStatusTextField()->text(),
                                  QStringLiteral("Connected to Live"), 10000);
        QCOMPARE(QApplication::activeModalWidget(), alert);
        client.setServerDetectorDelegate(nullptr);
        detector.setDelegate(nullptr);
    }

    // The first save inserts, later ones update the first record even beside a peer's.
    void storeUpdatesTheFirstRecord_data()
    {
        QTest::addColumn<qint64>("id");
        QTest::newRow("none selected") << qint64(-1);
        QTest::newRow("beyond 32 bits") << qint64(0x7fff'ffff'ffffLL);
    }
    void storeUpdatesTheFirstRecord()
    {
        QFETCH(qint64, id);
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
        auto delegate = makeDelegate(shipped());
        QSignalSpy approved(delegate.get(), &AppDelegate::quitApproved);
        if (saveFails) // the table is gone, as in a damaged store
            QVERIFY(peerExec(m->store.filePath(), QStringLiteral("DROP TABLE Preferences")));
        if (pending)
            m->store.setLastPortUniqueID(99);
        m->prompts.answers = {recovered, answer};
        // A second request while the alert is up (another signal) must not stack alerts.
        bool requestedAgain = false;
        m->prompts.whileAsking = [&] {
            if (!std::exchange(requestedAgain, true))
                delegate->requestQuit();
        };
        delegate->requestQuit();

        QCOMPARE(approved.size(), quits ? 1 : 0);
        if (!saveFails) {
            QCOMPARE(m->prompts.events, QStringList());
            QCOMPARE(storedIds(m->store.filePath()), pending ? QList<qint64>{99} : QList<qint64>());
            return;
        }
        // The store's own description first.
        const QStringList events = m->prompts.events;
        QVERIFY(events.value(0).startsWith("error: ") && events[0].size() > 7);
        QCOMPARE(events.mid(1),
                 recovered ? QStringList()
                           : QStringList{"Could not save changes while quitting. Quit anyway?: "
                                         "Quitting now will lose any changes you have made "
                                         "since the last successful save | Quit anyway, Cancel"});
        QVERIFY(m->store.hasChanges()); // whatever the answer, the edit is still there to save
        QCOMPARE(m->store.lastPortUniqueID(), std::optional<qint64>(99));

        // The save action presents only a failure and keeps the edit for a working store.
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

    // The real dialogs: an alert answers the pressed button's index and Escape picks the
    // safe second button, never "Quit anyway", whether or not the caller waits; the
    // chooser offers folders only.
    void realPrompts_data()
    {
        QTest::addColumn<QString>("press");   // a button, Escape, or the chooser's accept/reject
        QTest::addColumn<QVariant>("answer"); // an alert's index; the chooser's folder
        QTest::addColumn<bool>("waits");      // ask() rather than askLater()
        QTest::newRow("first button") << "Quit anyway" << QVariant(0) << true;
        QTest::newRow("second button") << "Cancel" << QVariant(1) << true;
        QTest::newRow("escape") << "Escape" << QVariant(1) << true;
        QTest::newRow("escape, not waiting") << "Escape" << QVariant(1) << false;
        QTest::newRow("first button, not waiting") << "Quit anyway" << QVariant(0) << false;
        QTest::newRow("folder chosen")
            << "accept" << QVariant("~/Music/Ableton/User Library") << false;
        QTest::newRow("chooser cancelled") << "reject" << QVariant() << false;
    }
    void realPrompts()
    {
        QFETCH(QString, press);
        QFETCH(QVariant, answer);
        QFETCH(bool, waits);
        QString seen;
        QTimer::singleShot(0, [&] {
            QWidget *w = nullptr;
            QTRY_VERIFY((w = QApplication::activeModalWidget()));
            if (auto *dialog = qobject_cast<QFileDialog *>(w)) {
                seen = dialog->windowTitle() + " / " + dialog->labelText(QFileDialog::Accept) +
                       (dialog->fileMode() == QFileDialog::Directory ? " / folders" : " / files");
                dialog->setDirectory(library());
                dialog->selectFile(library());
                press == "accept" ? static_cast<QDialog *>(dialog)->accept() : dialog->reject();
                return;
            }
            auto *box = qobject_cast<QMessageBox *>(w);
            seen = box->text() + " / " + box->informativeText();
            if (press == "Escape")
                QTest::keyClick(box, Qt::Key_Escape);
            for (QAbstractButton *b : box->buttons())
                if (b->text() == press)
                    b->click();
        });
        QtUserPrompts prompts;
        std::optional<QVariant> given;
        if (answer.typeId() == QMetaType::Int) {
            const QStringList buttons{"Quit anyway", "Cancel"};
            if (waits)
                given = prompts.ask("Message", "Details", buttons);
            else
                prompts.askLater("Message", "Details", buttons, [&](int i) { given = i; });
            QTRY_VERIFY(given);
            QCOMPARE(*given, answer);
            QCOMPARE(seen, QStringLiteral("Message / Details"));
            return;
        }
        prompts.chooseFolder("Select a folder", "Use This Folder",
                             [&](const std::optional<QString> &folder) {
                                 given = folder ? QVariant(*folder) : QVariant();
                             });
        QTRY_VERIFY(given);
        QCOMPARE(seen, QStringLiteral("Select a folder / Use This Folder / folders"));
        QCOMPARE(*given, answer.isNull() ? answer : QVariant(resolve(answer.toString())));
    }
};

QTEST_MAIN(TestAppDelegate)
#include "tst_appdelegate.moc"
