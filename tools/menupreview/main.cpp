// SPDX-License-Identifier: MIT
// Draws the iOS Bridge's status menu where no tray can show it: runs the daemon's
// menu and its Live link exactly as MarquellDaemon wires them, and each time the
// connection row changes prints the two status rows and saves the open menu as
// OUT_DIR/menu-N.png. Stops after SECONDS (default 20). Built, never run as a test.
#include "abletonsocket.h"
#include "daemonappdelegate.h"
#include "daemonprompts.h"
#include "daemonstatecache.h"
#include "livereconnector.h"
#include "loginitem.h"
#include "nophonerelay.h"
#include "serverportfile.h"
#include "statusrowaction.h"
#include "thrucontrol.h"

#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QTimer>

#include <cstdio>

namespace {

class ListedInputs final : public ThruControl
{
public:
    QList<Source> availableSources() const override { return {{1, QStringLiteral("Pedal")}}; }
    QSet<qint32> selectedSourceIDs() const override { return {1}; }
    void toggle(qint32) override {}
};

class NoAlerts final : public DaemonPrompts
{
public:
    void showError(const QString &, const QString &) override {}
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUT_DIR [SECONDS]\n", argv[0]);
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(outDir);
    QCoreApplication::setOrganizationDomain(QStringLiteral("orvanta-audio.com"));
    QCoreApplication::setApplicationName(QStringLiteral("MarquellDaemon"));

    QSettings settings;
    ListedInputs thru;
    NoAlerts prompts;
    const std::unique_ptr<LoginItem> loginItem = createLoginItem();
    DaemonAppDelegate shell(settings, thru, *loginItem, prompts, [](quint16) {});
    NoPhoneRelay phone;
    DaemonStateCache cache(phone);
    AbletonSocket live(cache, phone);
    QObject::connect(&live, &AbletonSocket::connectionStateChanged, &shell,
                     &DaemonAppDelegate::updateConnectionStatus);

    int shots = 0;
    QString lastRow;
    QObject::connect(&live, &AbletonSocket::connectionStateChanged, &shell, [&] {
        const QString row = shell.connectionRow().text();
        if (row == lastRow)
            return;
        lastRow = row;
        std::printf("menu: %s | %s\n", qPrintable(shell.discoveryRow().text()), qPrintable(row));
        std::fflush(stdout);
        QMenu &menu = shell.menu();
        menu.adjustSize();
        menu.grab().save(outDir + QStringLiteral("/menu-%1.png").arg(++shots));
    });

    LiveReconnector reconnector(live, serverportfile::serverConfigPath());
    reconnector.start();
    const int seconds = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 20;
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    return app.exec();
}
