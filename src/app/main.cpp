// SPDX-License-Identifier: MIT
// The Marquell executable: creates the one instance of each service, wires them and
// hands the process to the event loop.
#include "appdelegate.h"
#include "appearance.h"
#include "commandline.h"
#include "detectorcontrol.h"
#include "lastportstore.h"
#include "midibackend.h"
#include "midimanager.h"
#include "persistentstore.h"
#include "popupwindowcontroller.h"
#include "qtuserprompts.h"
#include "remotescriptinstaller.h"
#include "serverdetector.h"
#include "setlistlibrary.h"
#include "setlistpanel.h"
#include "setlistprint.h"
#include "setliststore.h"
#include "showwindow.h"
#include "signalquitwatcher.h"
#include "socketclient.h"
#include "songmanager.h"
#include "songposition.h"
#include "stagerunviewcontroller.h"
#include "transportmappings.h"

#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

namespace {

// The Live link services, kept for the life of the process.
struct LiveLink
{
    TransportMappings mappings;
    SocketClient client{mappings};
    SongManager songs{client};
    SongPositionModel position;
    ServerDetector detector{client};
    DetectorAdapter<ServerDetector> detectorControl{detector};

    LiveLink()
    {
        client.setSongManager(&songs);
        client.setServerDetector(&detector);
        client.setSongPosition(&position);
    }
};

// The window's pane that loaded last receives what Live reports and the connection
// status; the play buttons follow Live's playing state.
void wireShowWindow(StageRunMainWindow &window, LiveLink &link, AppDelegate &delegate)
{
    StagerunViewController *pane = window.delegatePane();
    link.client.setDelegate(pane);
    link.client.setServerDetectorDelegate(pane);
    link.detector.setDelegate(pane);
    QObject::connect(&link.client, &SocketClient::isPlayingChanged, &window,
                     &StageRunMainWindow::updatePlayButton);
    window.updatePlayButton(link.client.isPlaying());

    // Save lives in the application menu on macOS; elsewhere the window carries it.
    if (auto *menu = window.findChild<QMenu *>(QStringLiteral("menuMarquell"))) {
        auto *save = new QAction(QObject::tr("&Save"), &window);
        save->setShortcut(QKeySequence::Save);
        QObject::connect(save, &QAction::triggered, &delegate, &AppDelegate::saveAction);
        menu->insertAction(menu->actions().value(0), save);
    }
}

void setApplicationNames()
{
    QCoreApplication::setOrganizationDomain(QStringLiteral("orvanta-audio.com"));
    QCoreApplication::setApplicationName(QStringLiteral("Marquell"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MARQUELL_VERSION));
}

const QString kDescription = QStringLiteral("Show control for a live set run from Ableton Live.");
const QCommandLineOption
    printOption(QStringLiteral("print-setlist"),
                QStringLiteral("Write the saved setlist NAME as a PDF and quit."),
                QStringLiteral("NAME"));
const QCommandLineOption outputOption(QStringLiteral("output"),
                                      QStringLiteral("The PDF file --print-setlist writes."),
                                      QStringLiteral("FILE.pdf"));

void complain(const QString &text)
{
    std::fprintf(stderr, "Marquell: %s\n", qPrintable(text));
}

// --print-setlist: the stage copy of a saved setlist, for scripts, with no window. It
// runs before any widget exists, so it needs no display: without one it draws offscreen.
std::optional<int> printSetlistFromCommandLine(int argc, char *argv[])
{
    bool wanted = false;
    for (int i = 1; i < argc; ++i)
        wanted = wanted || QByteArray(argv[i]).startsWith("--print-setlist");
    if (!wanted)
        return std::nullopt;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    setApplicationNames();
    QCommandLineParser parser;
    parser.setApplicationDescription(kDescription);
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({printOption, outputOption});
    parser.process(app);
    const QString name = parser.value(printOption);
    const QString output = parser.value(outputOption);
    if (output.isEmpty()) {
        complain(QStringLiteral("--print-setlist needs --output FILE.pdf"));
        return EXIT_FAILURE;
    }
    PersistentStore store;
    if (!store.open(PersistentStore::defaultFolder())) {
        complain(QStringLiteral("cannot open the store: %1").arg(store.lastError()));
        return EXIT_FAILURE;
    }
    SetlistStore setlists(store.database(), store.libraryError());
    SetlistLibrary library(setlists);
    if (!library.reload()) {
        complain(library.lastError());
        return EXIT_FAILURE;
    }
    const int row = library.rowOfName(name.trimmed());
    if (row < 0) {
        QStringList names;
        for (int i = 0; i < library.rowCount(); ++i)
            names.append(library.at(i).name);
        complain(QStringLiteral("no saved setlist is named \"%1\". Saved: %2")
                     .arg(name, names.isEmpty() ? QStringLiteral("none")
                                                : names.join(QStringLiteral(", "))));
        return EXIT_FAILURE;
    }
    QString error;
    if (!setlistprint::writePdf(library.at(row), output,
                                {setlistprint::defaultPageSize(), QDate::currentDate(), {}},
                                &error)) {
        complain(error);
        return EXIT_FAILURE;
    }
    return EXIT_SUCCESS;
}

// The library panel opens from the View menu; it stays beside the window.
void addSetlistPanel(StageRunMainWindow &window, SetlistLibrary &library, LiveLink &link)
{
    auto *panel = new SetlistPanel({library, link.songs, link.client, &link.position,
                                    [&link] {
                                        return link.client.isPlaying();
                                    }},
                                   &window);
    auto *open = new QAction(QObject::tr("&Setlists…"), &window);
    open->setObjectName(QStringLiteral("actionSetlists"));
    open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    QObject::connect(open, &QAction::triggered, panel, [panel] {
        panel->show();
        panel->raise();
        panel->activateWindow();
    });
    if (auto *menu = window.findChild<QMenu *>(QStringLiteral("menuView")))
        menu->addAction(open);
    window.addAction(open);
}

} // namespace

int main(int argc, char *argv[])
{
    setApplicationNames();
    commandline::answerHelpAndVersion(argc, argv, kDescription, {printOption, outputOption});
    if (const std::optional<int> status = printSetlistFromCommandLine(argc, argv))
        return *status;
    QApplication app(argc, argv);
    commandline::processStandardOptions(app, kDescription, {printOption, outputOption});
    // Every quit goes through the delegate's rule, which saves the store first.
    QApplication::setQuitOnLastWindowClosed(false);

    const QString executableFolder = QCoreApplication::applicationDirPath();
    QSettings settings;
    PersistentStore store;
    QtUserPrompts prompts;
    AppDelegate delegate(settings, store, prompts,
                         DaemonLocation::besideApplication(executableFolder),
                         RemoteScriptInstaller::shippedFolder(executableFolder));
    if (!delegate.openStore(PersistentStore::defaultFolder()))
        return EXIT_FAILURE;
    delegate.setAppearanceHook(&applyDarkAppearance);

    const auto liveLink = std::make_unique<LiveLink>();
    delegate.setDetector(&liveLink->detectorControl);
    const std::unique_ptr<QMenuBar> menu(createApplicationMenu(delegate));

    // MIDI learn: one back-end and one manager, set up (and the last input reconnected)
    // by the launch sequence. Made before the window, which shows the manager's state.
    const std::unique_ptr<MidiBackend> midiBackend = createMidiBackend(QStringLiteral("Marquell"));
    LastPortStore lastPort(&store);
    MIDIManager midi(*midiBackend, liveLink->mappings, liveLink->client, lastPort);
    delegate.setMidiSetupHook([&midi] { midi.start(); });

    // Made before the window, whose panel lists it.
    SetlistStore setlistStore(store.database(), store.libraryError());
    SetlistLibrary setlistLibrary(setlistStore);
    setlistLibrary.reload();

    ShowWindowServices services{liveLink->songs, liveLink->client, delegate, &liveLink->position};
    const std::unique_ptr<StageRunMainWindow> window = createShowWindow(services);
    prompts.setParentWidget(window.get()); // the launch's alerts are modal to the window only
    wireShowWindow(*window, *liveLink, delegate);
    addSetlistPanel(*window, setlistLibrary, *liveLink);
    auto *midiMapWindow = new PopUpWindowController(midi, settings, window.get()); // window owns it
    for (StagerunViewController *pane : {window->setlistPane(), window->songPoolPane()})
        QObject::connect(pane, &StagerunViewController::midiMapWindowRequested, midiMapWindow,
                         &PopUpWindowController::showWindow);

    bool quitApproved = false;
    QObject::connect(&delegate, &AppDelegate::quitApproved, &app, [&quitApproved] {
        quitApproved = true;
        QCoreApplication::quit();
    });
    SignalQuitWatcher quitSignals;
    QObject::connect(&quitSignals, &SignalQuitWatcher::quitRequested, &delegate,
                     &AppDelegate::requestQuit);
    // Closing the window quits once the store is saved; a cancelled quit (the save
    // failed and the performer chose to stay) brings the window back.
    QObject::connect(&app, &QGuiApplication::lastWindowClosed, &delegate, [&] {
        if (!delegate.applicationShouldTerminateAfterLastWindowClosed())
            return;
        delegate.requestQuit();
        if (!quitApproved)
            window->show();
    });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, window.get(),
                     &StageRunMainWindow::saveWindowState);

    window->show();
    midiMapWindow->restoreWindow();

    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
    const int status = app.exec();
    // The window goes first: nothing may call into its panes after that.
    liveLink->client.setDelegate(nullptr);
    liveLink->client.setServerDetectorDelegate(nullptr);
    liveLink->detector.setDelegate(nullptr);
    return status;
}
