// SPDX-License-Identifier: MIT
#include "appdelegate.h"

#include "detectorcontrol.h"
#include "log.h"
#include "paths.h"
#include "persistentstore.h"
#include "serverportfile.h"
#include "settingskeys.h"
#include "singleinstancelock.h"
#include "userprompts.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QSettings>

namespace {

const QString kServerAddress = QStringLiteral("127.0.0.1");

} // namespace

DaemonLocation DaemonLocation::besideApplication(const QString &executableFolder)
{
    DaemonLocation location;
    location.lockPath = SingleInstanceLock::daemonLockPath();
    if (executableFolder.endsWith(QStringLiteral(".app/Contents/MacOS"))) {
        const QString bundle = QDir::cleanPath(executableFolder + QStringLiteral("/../.."));
        location.path = bundle + QStringLiteral("/Contents/Library/LoginItems/MarquellDaemon.app");
        location.isBundle = true;
    } else {
        location.path = QDir(executableFolder).filePath(QStringLiteral("MarquellDaemon"));
    }
    return location;
}

AppDelegate::AppDelegate(QSettings &settings, PersistentStore &store, UserPrompts &prompts,
                         DaemonLocation daemon, std::optional<QString> remoteScriptFolder,
                         QObject *parent)
    : QObject(parent), m_settings(settings), m_store(store), m_prompts(prompts),
      m_daemon(std::move(daemon)), m_remoteScriptFolder(std::move(remoteScriptFolder))
{}

bool AppDelegate::openStore(const QString &folder)
{
    if (m_store.open(folder))
        return true;
    const QString line = QStringLiteral("Unresolved error ") + m_store.lastError();
    mlog::system(line);
    qCritical().noquote() << line; // the program ends next; say why where it was started
    return false;
}

void AppDelegate::applicationDidFinishLaunching()
{
    if (m_settings.value(settingskeys::autoDaemonConnectEnabled).toBool())
        launchDaemonIfNeeded();
    if (m_applyAppearance)
        m_applyAppearance();
    // Its alerts stay open without holding back MIDI and the search for Live.
    presentInstallOutcome();
    if (m_quitApproved)
        return;
    if (m_setUpMidi)
        m_setUpMidi();
    const int port = serverportfile::readServerPort(serverportfile::serverConfigPath())
                         .value_or(serverportfile::kDefaultPort);
    if (m_detector) {
        m_detector->updateParameters(kServerAddress, port);
        m_detector->startDetection();
    }
}

bool AppDelegate::isDaemonRunning() const
{
    return SingleInstanceLock::isHeld(m_daemon.lockPath);
}

void AppDelegate::launchDaemonIfNeeded()
{
    if (isDaemonRunning())
        return;
    if (!QFileInfo::exists(m_daemon.path)) {
        mlog::system(QStringLiteral("MarquellBridge: helper missing at ") + m_daemon.path);
        return;
    }
    QProcess process;
    if (m_daemon.isBundle) {
        process.setProgram(QStringLiteral("/usr/bin/open"));
        process.setArguments({QStringLiteral("-g"), m_daemon.path});
    } else {
        process.setProgram(m_daemon.path);
    }
    // Detached: the daemon outlives the application and is not tracked.
    if (!process.startDetached())
        mlog::system(QStringLiteral("MarquellBridge: launch failed: ") + process.errorString());
}

QString AppDelegate::shippedVersion()
{
    const QString version = QCoreApplication::applicationVersion();
    return version.isEmpty() ? QStringLiteral("0") : version;
}

RemoteScriptInstaller::Environment AppDelegate::installerEnvironment() const
{
    m_settings.sync(); // pick up a choice written by another settings object
    return {m_remoteScriptFolder, shippedVersion(),
            RemoteScriptInstaller::chosenUserLibrary(m_settings), paths::homeFolder()};
}

RemoteScriptInstaller::Outcome AppDelegate::presentInstallOutcome()
{
    using namespace RemoteScriptInstaller;
    using Tone = UserPrompts::Tone;
    const Outcome outcome = installIfNeeded(installerEnvironment());
    if (const auto *o = std::get_if<Installed>(&outcome)) {
        m_prompts.inform(Tone::Information, QStringLiteral("Marquell Remote Script installed"),
                         QStringLiteral("Version ") + o->version +
                             QStringLiteral(" was added to Live's User Library.\n\n"
                                            "Restart Live, then choose Marquell under "
                                            "Preferences → Link, Tempo & MIDI → Control Surface."));
    } else if (const auto *o = std::get_if<Updated>(&outcome)) {
        m_prompts.inform(Tone::Information, QStringLiteral("Marquell Remote Script updated"),
                         QStringLiteral("Updated from ") + o->from + QStringLiteral(" to ") +
                             o->to +
                             QStringLiteral(".\n\nRestart Live to pick up the new version."));
    } else if (const auto *o = std::get_if<LibraryNotFound>(&outcome)) {
        promptForUserLibrary(o->expected);
    } else if (const auto *o = std::get_if<Failed>(&outcome)) {
        m_prompts.inform(Tone::Warning,
                         QStringLiteral("Couldn't install the Marquell Remote Script"), o->reason);
    }
    return outcome;
}

void AppDelegate::promptForUserLibrary(const QString &expected)
{
    // The answers come after the launch went on; by then the application may be quitting.
    const QPointer<AppDelegate> self(this);
    const auto stillWanted = [self] {
        return self && !self->m_quitApproved;
    };
    m_prompts.askLater(
        QStringLiteral("Where is Ableton's User Library?"),
        QStringLiteral("Marquell installs its Remote Script there, but nothing is at ") + expected +
            QStringLiteral(".\n\nYou'll find the location in Live under Preferences → Library."),
        {QStringLiteral("Choose…"), QStringLiteral("Later")}, [self, stillWanted](int answer) {
            if (answer != 0 || !stillWanted())
                return; // "Later" or dismissed: asked again at the next launch
            self->m_prompts.chooseFolder(
                QStringLiteral("Select Ableton's User Library"), QStringLiteral("Use This Folder"),
                [self, stillWanted](const std::optional<QString> &folder) {
                    if (!folder || !stillWanted())
                        return;
                    self->m_settings.setValue(settingskeys::abletonUserLibraryPath, *folder);
                    self->m_settings.sync();
                    self->presentInstallOutcome();
                });
        });
}

void AppDelegate::saveAction()
{
    if (!m_store.hasChanges())
        return;
    if (!m_store.save())
        m_prompts.presentError(m_store.lastError());
}

AppDelegate::TerminateReply AppDelegate::applicationShouldTerminate()
{
    if (!m_store.hasChanges())
        return TerminateReply::Now;
    if (m_store.save())
        return TerminateReply::Now;
    if (m_prompts.presentError(m_store.lastError()))
        return TerminateReply::Cancel;
    const int answer = m_prompts.ask(
        tr("Could not save changes while quitting. Quit anyway?",
           "Quit without saves error question message"),
        tr("Quitting now will lose any changes you have made since the last successful save",
           "Quit without saves error question info"),
        {tr("Quit anyway", "Quit anyway button title"), tr("Cancel", "Cancel button title")});
    // Only an explicit "Quit anyway" gives up unsaved changes; a dismissed alert keeps them.
    return answer == 0 ? TerminateReply::Now : TerminateReply::Cancel;
}

void AppDelegate::requestQuit()
{
    // A second request while the quit alert is up (another signal) must not stack alerts.
    if (m_quitting)
        return;
    m_quitting = true;
    const TerminateReply reply = applicationShouldTerminate();
    m_quitting = false;
    if (reply != TerminateReply::Now)
        return;
    m_quitApproved = true;
    emit quitApproved();
}
