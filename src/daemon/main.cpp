// SPDX-License-Identifier: MIT
// MarquellDaemon: keeps its own Live link, caches the show state and (later)
// relays it to the phone. Headless for now; the status menu will swap the
// QCoreApplication for a QApplication without touching the wiring below.
#include "abletonsocket.h"
#include "daemonstatecache.h"
#include "livereconnector.h"
#include "log.h"
#include "midibackend.h"
#include "midiemitter.h"
#include "midithru.h"
#include "nophonerelay.h"
#include "quitonsignal.h"
#include "serverportfile.h"
#include "singleinstancelock.h"

#include <QCoreApplication>
#include <QSettings>

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

    // MIDI first: the virtual source "Marquell", then thru into it. Without a MIDI
    // system each logs its failure and the daemon serves Live and the phone anyway.
    const std::unique_ptr<MidiBackend> midi = createMidiBackend(QStringLiteral("MarquellDaemon"));
    MIDIEmitter emitter(*midi);
    emitter.start();
    QSettings settings;
    MIDIThru thru(*midi, emitter, settings);
    thru.start();

    NoPhoneRelay phone;
    DaemonStateCache cache(phone);
    AbletonSocket live(cache, phone);
    LiveReconnector reconnector(live, serverportfile::serverConfigPath());
    reconnector.start();

    return app.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    describeApplication();
    return runDaemon(app);
}
