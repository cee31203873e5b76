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
#include "showwindow.h"
#include "signalquitwatcher.h"
#include "socketclient.h"
#include "songmanager.h"
#include "songposition.h"
#include "stagerunviewcontroller.h"
#include "transportmappings.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QTimer>

#include <cstdlib>
#include <memory>

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

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setOrganizationDomain(QStringLiteral("orvanta-audio.com"));
    QCoreApplication::setApplicationName(QStringLiteral("Marquell"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MARQUELL_VERSION));
    const QString description = QObject::tr("Show control for a live set run from Ableton Live.");
    commandline::answerHelpAndVersion(argc, argv, description);
    QApplication app(argc, argv);
    commandline::processStandardOptions(app, description);
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

    ShowWindowServices services{liveLink->songs, liveLink->client, delegate, &liveLink->position};
    const std::unique_ptr<StageRunMainWindow> window = createShowWindow(services);
    prompts.setParentWidget(window.get()); // the launch's alerts are modal to the window only
    wireShowWindow(*window, *liveLink, delegate);
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
