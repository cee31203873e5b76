// SPDX-License-Identifier: MIT
// Opens the show window with demo songs and saves a picture of it, to look at the
// window without Live: marquell_windowpreview [out.png] [--playing] [--collapsed] [--show]
// [--detecting] [--narrow] [--bridge-running]
// With --midi it pictures the MIDI mapping window instead, over in-memory MIDI; with
// --setlists the setlist library panel, over a store in a temporary folder.
#include "daemonlauncher.h"
#include "fakemidibackend.h"
#include "lastportstore.h"
#include "livelinksender.h"
#include "log.h"
#include "mappingcell.h"
#include "midimanager.h"
#include "persistentstore.h"
#include "popupwindowcontroller.h"
#include "setlistpanel.h"
#include "setliststore.h"
#include "showwindow.h"
#include "songmanager.h"
#include "stageruntableview.h"
#include "stagerunviewcontroller.h"
#include "transportmappings.h"

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

namespace {

class PrintingSender final : public LiveLinkSender
{
public:
    void sendMapping(quint8, quint8, quint16, quint8) override {}
    void sendTransportCommand(int command) override { print("transport", command); }
    void sendClearMapping(int) override {}
    void sendSelectSetlistIndex(int index) override { print("select setlist index", index); }
    void sendSetlist(const QList<Song> &songs) override { print("setlist of", int(songs.size())); }
    void sendPlaySongPoolSong(quint64 id) override { print("play pool song", int(id)); }
    void sendCueMode(int mode) override { print("cue mode", mode); }
    void sendClearAllMappings() override {}
    void sendJumpToSection(quint64, int section) override { print("jump to section", section); }
    void sendStopAfter(quint64, bool stopAfter) override { print("stop after", stopAfter); }

private:
    static void print(const char *what, int value)
    {
        mlog::out(QStringLiteral("preview would send: %1 %2").arg(QLatin1String(what)).arg(value));
    }
};

class PrintingLauncher final : public DaemonLauncher
{
public:
    void launchDaemonIfNeeded() override { mlog::out(QStringLiteral("preview: launch daemon")); }
    bool isDaemonRunning() const override { return running; }
    bool running = false;
};

QList<Song> demoPool()
{
    const char *names[][2] = {
        {"Opening Lights", "4:12"}, {"Midnight Engine", "5:03"},  {"Glass Harbour", "3:47"},
        {"Northern Wire", "4:30"},  {"Slow Satellite", "6:01"},   {"Paper Crowns", "3:22"},
        {"Velvet Static", "4:48"},  {"Afterglow Avenue", "5:15"}, {"Copper Sky", "3:58"},
        {"Echo Republic", "4:05"},  {"Last Train Home", "7:20"},  {"Blue Hour", "3:33"},
    };
    QList<Song> songs;
    quint64 id = 100;
    for (const auto &entry : names)
        songs.append(Song{id++, QString::fromUtf8(entry[0]), QString::fromUtf8(entry[1])});
    return songs;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Marquell"));
    QCoreApplication::setApplicationName(QStringLiteral("MarquellWindowPreview"));
    // Never the user's real settings, and nothing left behind.
    QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());

    const QStringList args = app.arguments().mid(1);
    QString out = QStringLiteral("windowpreview.png");
    for (const QString &arg : args) {
        if (!arg.startsWith(QLatin1String("--")))
            out = arg;
    }

    PrintingSender sender;
    if (args.contains(QLatin1String("--midi"))) {
        FakeMidiBackend midi;
        midi.addSource(QStringLiteral("FS-6 Foot Switch"), 1);
        midi.addSource(QStringLiteral("Keystation 49"), 2);
        TransportMappings mappings;
        mappings.playMapping = MappingData{1, 0, 80};
        mappings.stopMapping = MappingData{1, 0, 81};
        LastPortStore lastPort(nullptr);
        MIDIManager manager(midi, mappings, sender, lastPort);
        manager.start();
        manager.selectSource(0);
        QSettings settings;
        PopUpWindowController opener(manager, settings, nullptr);
        opener.showWindow();
        // The performer clicked the next tile and stepped on a pedal; not applied yet.
        opener.window()
            ->findChild<MappingCell *>(QStringLiteral("mappingCell4"))
            ->button()
            ->click();
        manager.updateTempMapping(0, 9, 36, manager.selectedMappingTag());
        QTimer::singleShot(200, &app, [&] {
            opener.window()->grab().save(out);
            mlog::out(QStringLiteral("saved ") + out);
            app.quit();
        });
        return app.exec();
    }
    if (args.contains(QLatin1String("--setlists"))) {
        const QList<Song> pool = demoPool();
        SongManager songs(sender);
        songs.replaceSongPool(pool);
        songs.replaceSetlist(QList<Song>{pool[0], pool[1], pool[2]});
        PersistentStore store;
        if (!store.open(settingsDir.path()))
            return 1;
        SetlistStore rows(store.database(), store.libraryError());
        SetlistLibrary library(rows);
        library.setOpenSet(OpenSetIdentity::fromPool(pool));
        const auto none = [](quint64) {
            return false;
        };
        library.saveCurrent(QStringLiteral("Festival 45 min"),
                            {pool[0], pool[1], pool[4], pool[7], pool[10]},
                            [](quint64 id) { return id == 107; });
        library.saveCurrent(QStringLiteral("Headline 90 min"), pool, none);
        SavedSetlist acoustic{0, QStringLiteral("Acoustic encore"), {}, {}, {}, {}};
        for (const char *name : {"Blue Hour", "Paper Crowns", "Quiet Room", "Copper Sky"})
            acoustic.entries.append({0, QString::fromUtf8(name), QString(), false});
        acoustic.entries.last().stopAfter = true;
        library.addImported(acoustic);
        SetlistPanel panel({library, songs, sender, nullptr, [] {
                                return false;
                            }});
        panel.selectRow(2);
        panel.show();
        QTimer::singleShot(200, &app, [&] {
            panel.grab().save(out);
            mlog::out(QStringLiteral("saved ") + out);
            app.quit();
        });
        return app.exec();
    }
    PrintingLauncher launcher;
    launcher.running = args.contains(QLatin1String("--bridge-running"));
    SongManager songs(sender);
    ShowWindowServices services{songs, sender, launcher};
    std::unique_ptr<StageRunMainWindow> window = createShowWindow(services);
    window->resize(1180, 780);

    const QList<Song> pool = demoPool();
    songs.replaceSongPool(pool);
    songs.replaceSetlist(QList<Song>{pool[0], pool[1], pool[2], pool[3], pool[7], pool[10]});

    StagerunViewController *pane = window->delegatePane();
    if (args.contains(QLatin1String("--detecting")))
        pane->showServerStatus(QStringLiteral("Detecting server on \nPort 6000..."));
    else
        pane->showConnected();
    pane->selectSetlistRow(2);
    pane->showBPM(128.0f);
    window->updatePlayButton(args.contains(QLatin1String("--playing")));
    window->show();
    if (args.contains(QLatin1String("--collapsed"))) {
        QCoreApplication::processEvents();
        pane->panelToggler();
    }
    if (args.contains(QLatin1String("--narrow"))) {
        QCoreApplication::processEvents();
        window->resize(window->minimumSizeHint());
    }

    if (args.contains(QLatin1String("--show")))
        return app.exec();
    QTimer::singleShot(200, &app, [&] {
        window->grab().save(out);
        mlog::out(QStringLiteral("saved ") + out);
        app.quit();
    });
    return app.exec();
}
