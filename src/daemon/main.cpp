// SPDX-License-Identifier: MIT
// MarquellDaemon: keeps its own Live link, caches the show state and (later)
// relays it to the phone. Headless for now; the status menu will swap the
// QCoreApplication for a QApplication without touching the wiring below.
#include "abletonsocket.h"
#include "addresscard.h"
#include "daemonstatecache.h"
#include "livereconnector.h"
#include "log.h"
#include "nophonerelay.h"
#include "quitonsignal.h"
#include "serverportfile.h"
#include "singleinstancelock.h"
#include "webremoteserver.h"
#include "websettings.h"

#include <QCoreApplication>
#include <QSettings>

#include <cstdio>

namespace {

void describeApplication()
{
    QCoreApplication::setOrganizationDomain(QStringLiteral("orvanta-audio.com"));
    QCoreApplication::setApplicationName(QStringLiteral("MarquellDaemon"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MARQUELL_VERSION));
}

// Everything the daemon runs, in launch order; lives as long as the event loop.
int runDaemon(QCoreApplication &app)
{
    // Ready for SIGINT/SIGTERM before the lock tells others this copy runs.
    QuitOnSignal quitOnSignal;
    SingleInstanceLock lock(SingleInstanceLock::daemonLockPath());
    if (!lock.tryAcquire()) {
        mlog::system(
            QStringLiteral("MarquellDaemon: another instance is already running; exiting"));
        return 0;
    }

    NoPhoneRelay phone;
    DaemonStateCache cache(phone);
    AbletonSocket live(cache, phone);
    LiveReconnector reconnector(live, serverportfile::serverConfigPath());
    reconnector.start();

    WebRemoteServer web(cache, live);
    const QSettings settings;
    web.setPin(websettings::pin(settings));
    web.start(websettings::wantedPort(settings));

    return app.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    describeApplication();
    // Prints where the web remote is, with a QR code for a phone, and exits.
    if (app.arguments().contains(QStringLiteral("--print-qr"))) {
        const QString card = addressCard(webaddress::forPort(websettings::wantedPort(QSettings())));
        std::fputs(card.toUtf8().constData(), stdout);
        return 0;
    }
    return runDaemon(app);
}
