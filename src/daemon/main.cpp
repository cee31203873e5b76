// SPDX-License-Identifier: MIT
// MarquellDaemon, the "iOS Bridge": keeps its own Live link, caches the show state
// and relays it to the phone, to browsers and to OSC tools, and publishes the virtual MIDI source
// "Marquell"; its face is one status menu in the system tray. Without a tray or a
// display it keeps serving, headless.
#include "abletonsocket.h"
#include "addresscard.h"
#include "commandline.h"
#include "daemonappdelegate.h"
#include "daemonstatecache.h"
#include "dnssdadvertiser.h"
#include "iossocket.h"
#include "livereconnector.h"
#include "log.h"
#include "loginitem.h"
#include "midibackend.h"
#include "midiemitter.h"
#include "midithru.h"
#include "nophonerelay.h"
#include "oscremote.h"
#include "oscsettings.h"
#include "qtdaemonprompts.h"
#include "quitonsignal.h"
#include "serverportfile.h"
#include "singleinstancelock.h"
#include "webremoteserver.h"
#include "websettings.h"

#include <QApplication>
#include <QSettings>
#include <QSysInfo>

#include <cstdio>

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

// Everything the daemon runs, in launch order; lives as long as the event loop.
int runDaemon(QApplication &app)
{
    // Ready for SIGINT/SIGTERM before the lock tells others this copy runs.
    QuitOnSignal quitOnSignal;
    SingleInstanceLock lock(SingleInstanceLock::daemonLockPath());
    if (!lock.tryAcquire()) {
        mlog::system(
            QStringLiteral("MarquellDaemon: another instance is already running; exiting"));
        std::fputs("MarquellDaemon is already running\n", stderr); // for whoever started it
        return 0;
    }

    const std::unique_ptr<LoginItem> loginItem = createLoginItem();
    loginItem->migrateLegacyAgent();

    // MIDI first: the virtual source "Marquell", then thru into it. Without a MIDI
    // system each logs its failure and the daemon serves Live and the phone anyway.
    const std::unique_ptr<MidiBackend> midi = createMidiBackend(QStringLiteral("MarquellDaemon"));
    MIDIEmitter emitter(*midi);
    emitter.start();
    QSettings settings;
    MIDIThru thru(*midi, emitter, settings);
    thru.start();

    // The cache and the Live link need a phone side before the iOS socket exists;
    // the iOS socket takes over from the placeholder as it is made.
    NoPhoneRelay placeholder;
    DaemonStateCache cache(placeholder);
    AbletonSocket live(cache, placeholder);
    DnsSdAdvertiser advertiser;
    iOSSocket phone(live, cache, emitter, advertiser, settings);

    QtDaemonPrompts prompts;
    DaemonAppDelegate shell(settings, thru, *loginItem, prompts,
                            [&phone](quint16 port) { phone.setListenPort(port); });
    shell.showInTray();
    QObject::connect(&live, &AbletonSocket::connectionStateChanged, &shell,
                     &DaemonAppDelegate::updateConnectionStatus);
    QObject::connect(&phone, &iOSSocket::publisherStateChanged, &shell,
                     &DaemonAppDelegate::updatePublisherStatus);

    LiveReconnector reconnector(live, serverportfile::serverConfigPath());
    reconnector.start();
    phone.startAdvertising(QStringLiteral("Marquell"), QStringLiteral("_marquell._tcp"));

    WebRemoteServer web(cache, live);
    web.setPin(websettings::pin(settings));
    // Browsers that browse DNS-SD (and phones' "local network" lists) find the page too.
    DnsSdAdvertiser webAdvertiser;
    if (web.start(websettings::wantedPort(settings)))
        webAdvertiser.advertise({QStringLiteral("Marquell"), QStringLiteral("_http._tcp"),
                                 web.port(), QSysInfo::machineHostName()});

    // Show-control tools (hubs, tablets, desks) over OSC, findable as "_osc._udp".
    DnsSdAdvertiser oscAdvertiser;
    oscAdvertiser.setLogNames(QStringLiteral("OSC"), QStringLiteral("the OSC listener"));
    OscRemote osc(cache, live, oscAdvertiser, settings);
    shell.addOscPortRow([&settings] { return oscsettings::wantedPort(settings); },
                        [&osc](quint16 port) { osc.setPort(port); });
    QObject::connect(&osc, &OscRemote::portStateChanged, &shell,
                     &DaemonAppDelegate::updateOscPortStatus);
    osc.start();

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
    const QCommandLineOption printQr(
        QStringLiteral("print-qr"),
        QStringLiteral("Print the web remote's address with a QR code for a phone, and exit."));
    const QStringList given = commandline::processStandardOptions(
        app, QStringLiteral("The iOS Bridge: relays the show in Live to a phone or tablet."),
        {printQr});
    if (given.contains(QStringLiteral("print-qr"))) {
        const QString card = addressCard(webaddress::forPort(websettings::wantedPort(QSettings())));
        std::fputs(card.toUtf8().constData(), stdout);
        return 0;
    }
    return runDaemon(app);
}
