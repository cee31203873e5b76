// SPDX-License-Identifier: MIT
// MarquellDaemon, the "iOS Bridge": keeps its own Live link, caches the show state
// and (later) relays it to the phone; its face is one status menu in the system tray.
// Without a tray or a display it keeps serving, headless.
#include "abletonsocket.h"
#include "daemonappdelegate.h"
#include "daemonstatecache.h"
#include "listenport.h"
#include "livereconnector.h"
#include "log.h"
#include "loginitem.h"
#include "nophonerelay.h"
#include "qtdaemonprompts.h"
#include "quitonsignal.h"
#include "serverportfile.h"
#include "singleinstancelock.h"
#include "thrucontrol.h"

#include <QApplication>
#include <QSettings>
#include <QSysInfo>

namespace {

void describeApplication()
{
    QCoreApplication::setOrganizationDomain(QStringLiteral("orvanta-audio.com"));
    QCoreApplication::setApplicationName(QStringLiteral("MarquellDaemon"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MARQUELL_VERSION));
}

// A server with no display must still run: without one, Qt's default platform
// would abort before the daemon could say why.
void runHeadlessWithoutDisplay()
{
    if (QSysInfo::kernelType() == QStringLiteral("linux") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

// Until the daemon's MIDI thru is wired in, the submenu offers no inputs.
class NoThruInputs final : public ThruControl
{
public:
    QList<Source> availableSources() const override { return {}; }
    QSet<qint32> selectedSourceIDs() const override { return {}; }
    void toggle(qint32) override {}
};

// Everything the daemon runs, in launch order; lives as long as the event loop.
int runDaemon(QApplication &app)
{
    // Ready for SIGINT/SIGTERM before the lock tells others this copy runs.
    QuitOnSignal quitOnSignal;
    SingleInstanceLock lock(SingleInstanceLock::daemonLockPath());
    if (!lock.tryAcquire()) {
        mlog::system(
            QStringLiteral("MarquellDaemon: another instance is already running; exiting"));
        return 0;
    }

    const std::unique_ptr<LoginItem> loginItem = createLoginItem();
    loginItem->migrateLegacyAgent();

    QSettings settings;
    NoThruInputs thru;
    QtDaemonPrompts prompts;
    // Until the phone listener is wired in, an accepted port is only stored.
    DaemonAppDelegate shell(settings, thru, *loginItem, prompts, [&settings](quint16 port) {
        settings.setValue(listenport::settingKey, port);
    });
    shell.showInTray();

    NoPhoneRelay phone;
    DaemonStateCache cache(phone);
    AbletonSocket live(cache, phone);
    QObject::connect(&live, &AbletonSocket::connectionStateChanged, &shell,
                     &DaemonAppDelegate::updateConnectionStatus);
    LiveReconnector reconnector(live, serverportfile::serverConfigPath());
    reconnector.start();

    return app.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    runHeadlessWithoutDisplay();
    QApplication app(argc, argv);
    // Closing an alert must not end the daemon: only "Quit iOS Bridge" or a signal do.
    QApplication::setQuitOnLastWindowClosed(false);
    describeApplication();
    return runDaemon(app);
}
