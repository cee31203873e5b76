// SPDX-License-Identifier: MIT
#pragma once

#include "daemonlauncher.h"
#include "remotescriptinstaller.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class DetectorControl;
class PersistentStore;
class QSettings;
class UserPrompts;

// Where the iOS Bridge daemon lives and how to tell whether it runs.
struct DaemonLocation
{
    QString path;          // the executable, or on macOS the .app bundle
    bool isBundle = false; // opened with "open -g" so it does not take the focus
    QString lockPath;      // held by a running daemon

    // Beside the application: the MarquellDaemon executable on Linux, the login-item
    // bundle inside the application bundle on macOS.
    static DaemonLocation besideApplication(const QString &executableFolder);
};

// The application's life cycle: the launch sequence, starting the daemon, the
// Remote Script installer's outcome and the User Library prompt, the persistent
// store's save and the quit rule. Main thread only. Asks the user through
// UserPrompts and never opens a window itself; no launch step waits for an answer.
class AppDelegate final : public QObject, public DaemonLauncher
{
    Q_OBJECT

public:
    enum class TerminateReply
    {
        Now,
        Cancel
    };

    AppDelegate(QSettings &settings, PersistentStore &store, UserPrompts &prompts,
                DaemonLocation daemon, std::optional<QString> remoteScriptFolder,
                QObject *parent = nullptr);

    // Set by the composition root before the launch sequence runs; each is optional.
    void setDetector(DetectorControl *detector) { m_detector = detector; }
    void setAppearanceHook(std::function<void()> hook) { m_applyAppearance = std::move(hook); }
    void setMidiSetupHook(std::function<void()> hook) { m_setUpMidi = std::move(hook); }

    // Opens the store in folder. On failure logs "Unresolved error " with the error
    // and returns false; the program then ends with a non-zero status.
    bool openStore(const QString &folder);
    PersistentStore &persistentStore() { return m_store; }

    void applicationDidFinishLaunching();
    void launchDaemonIfNeeded() override;
    bool isDaemonRunning() const override;

    // Runs the installer and shows its outcome without waiting for the user; returns
    // this run's outcome (a folder chosen at the User Library prompt runs it again).
    RemoteScriptInstaller::Outcome presentInstallOutcome();
    void promptForUserLibrary(const QString &expected);

    // The menu's Save: a failed save is only presented.
    void saveAction();
    TerminateReply applicationShouldTerminate();
    // Closing the show window quits the application.
    bool applicationShouldTerminateAfterLastWindowClosed() const { return true; }

    // Every road out (menu, signal, last window closed) ends here.
    void requestQuit();

    // The shipped version this build installs: the application's version, else "0".
    static QString shippedVersion();

signals:
    // The quit rule allowed quitting; the store is saved or the user gave it up.
    void quitApproved();

private:
    RemoteScriptInstaller::Environment installerEnvironment() const;

    QSettings &m_settings;
    PersistentStore &m_store;
    UserPrompts &m_prompts;
    DaemonLocation m_daemon;
    std::optional<QString> m_remoteScriptFolder;
    DetectorControl *m_detector = nullptr;
    std::function<void()> m_applyAppearance;
    std::function<void()> m_setUpMidi;
    bool m_quitting = false;
    bool m_quitApproved = false; // the launch stops at its next step
};
