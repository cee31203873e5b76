// SPDX-License-Identifier: MIT
// The Marquell executable: creates the one instance of each service, wires them and
// hands the process to the event loop.
#include "appdelegate.h"
#include "appearance.h"
#include "detectorcontrol.h"
#include "persistentstore.h"
#include "qtuserprompts.h"
#include "remotescriptinstaller.h"
#include "serverdetector.h"
#include "signalquitwatcher.h"
#include "socketclient.h"
#include "songmanager.h"
#include "transportmappings.h"

#include <QApplication>
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
    ServerDetector detector{client};
    DetectorAdapter<ServerDetector> detectorControl{detector};

    LiveLink()
    {
        client.setSongManager(&songs);
        client.setServerDetector(&detector);
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationDomain(QStringLiteral("orvanta-audio.com"));
    QCoreApplication::setApplicationName(QStringLiteral("Marquell"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MARQUELL_VERSION));
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

    SignalQuitWatcher quitSignals;
    QObject::connect(&quitSignals, &SignalQuitWatcher::quitRequested, &delegate,
                     &AppDelegate::requestQuit);
    QObject::connect(&app, &QGuiApplication::lastWindowClosed, &delegate, [&delegate] {
        if (delegate.applicationShouldTerminateAfterLastWindowClosed())
            delegate.requestQuit();
    });
    QObject::connect(&delegate, &AppDelegate::quitApproved, &app, &QCoreApplication::quit);

    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
    return app.exec();
}
