// SPDX-License-Identifier: MIT
#include "appdelegate.h"
#include "detectorcontrol.h"
#include "lifecyclefixtures.h"
#include "liveclientharness.h"
#include "log.h"
#include "persistentstore.h"
#include "singleinstancelock.h"
#include "songmanager.h"
#include "temphome.h"
#include "userprompts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QSignalSpy>
#include <QSysInfo>
#include <QtTest>

#include <functional>

namespace {

// Answers every question with "Choose…" and a folder, and runs a hook inside the
// modal call, as a signal arriving while the alert is up would.
class QuittingPrompts final : public UserPrompts
{
public:
    void inform(const QString &, const QString &) override { events << QStringLiteral("inform"); }
    int ask(const QString &, const QString &, const QStringList &) override
    {
        events << QStringLiteral("ask");
        if (quitAt == QLatin1String("ask"))
            quit();
        return 0;
    }
    std::optional<QString> chooseFolder(const QString &, const QString &) override
    {
        events << QStringLiteral("choose");
        if (quitAt == QLatin1String("choose"))
            quit();
        return chosen;
    }
    bool presentError(const QString &) override { return false; }

    QString quitAt;
    QString chosen;
    std::function<void()> quit;
    QStringList events;
};

class RecordingDetector final : public DetectorControl
{
public:
    void updateParameters(const QString &, int) override { calls << QStringLiteral("update"); }
    void startDetection() override { calls << QStringLiteral("start"); }
    QStringList calls;
};

void writeLock(const QString &path, qint64 pid, const QByteArray &app)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray::number(pid) + '\n' + app + '\n' + QSysInfo::machineHostName().toUtf8() +
               '\n');
}

} // namespace

class TestReviewFaults : public QObject
{
    Q_OBJECT

private slots:
    // A type 3 message with a good pool and a cut setlist replaced the pool without
    // telling the views: the pool table kept its old rows while the model changed.
    void poolWithMalformedSetlistReachesTheViews()
    {
        LiveClientHarness h;
        QVERIFY(h.connectAndValidate());
        h.songs.replaceSetlist(QList<Song>{{1, QStringLiteral("Kept"), QStringLiteral("3:00")}});
        QSignalSpy updates(&h.songs, &SongManager::songPoolDidUpdate);

        const QByteArray setlist = bytes({4}) + song(9, "Cut", "2:00");
        QVERIFY(h.deliver(
            {bytes({3}) + song(2, "New", "4:00") + song(3, "Other", "1:00") + setlist.chopped(1)}));

        QCOMPARE(h.songs.songPoolData().size(), 2);
        QCOMPARE(h.songs.setListData().size(), 1);
        QCOMPARE(h.songs.setListData().first().name, QStringLiteral("Kept"));
        QCOMPARE(updates.count(), 1);
    }

    // After a crash the lock file stays; a reused process id made the daemon look
    // alive for ever, so the application never started it again.
    void lockHolderMustBeTheDaemon_data()
    {
        QTest::addColumn<QString>("holder");
        QTest::addColumn<QByteArray>("recordedApp");
        QTest::addColumn<bool>("held");
        QTest::newRow("reused id, other program")
            << "self" << QByteArray("MarquellDaemon") << false;
        QTest::newRow("reused id, init") << "init" << QByteArray("MarquellDaemon") << false;
        QTest::newRow("the program that took it") << "self" << QByteArray() << true;
    }
    void lockHolderMustBeTheDaemon()
    {
        QFETCH(QString, holder);
        QFETCH(QByteArray, recordedApp);
        QFETCH(bool, held);
        if (holder == QLatin1String("init") && !QFileInfo::exists(QStringLiteral("/proc/1/comm")))
            QSKIP("no /proc/1/comm to read");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("daemon.lock"));
        const qint64 pid = holder == QLatin1String("init") ? 1 : QCoreApplication::applicationPid();
        writeLock(path, pid,
                  recordedApp.isEmpty() ? QCoreApplication::applicationName().toUtf8()
                                        : recordedApp);
        QCOMPARE(SingleInstanceLock::isHeld(path), held);
        if (!held) {
            SingleInstanceLock next(path);
            QVERIFY(next.tryAcquire());
        }
    }

    // SIGTERM while the User Library prompt was open returned from the prompt and ran
    // the rest of the launch: detection started during quit.
    void quitDuringLaunchPromptEndsTheLaunch_data()
    {
        QTest::addColumn<QString>("quitAt");
        QTest::addColumn<QStringList>("prompts");
        QTest::newRow("at the question") << "ask" << QStringList{QStringLiteral("ask")};
        QTest::newRow("at the folder chooser")
            << "choose" << QStringList{QStringLiteral("ask"), QStringLiteral("choose")};
    }
    void quitDuringLaunchPromptEndsTheLaunch()
    {
        QFETCH(QString, quitAt);
        QFETCH(QStringList, prompts);
        TempHome home;
        mlog::Capture log;
        QSettings settings(home.path() + QStringLiteral("/settings.ini"), QSettings::IniFormat);
        PersistentStore store;
        QVERIFY(store.open(home.path() + QStringLiteral("/appdata")));
        const QString shipped = home.path() + QStringLiteral("/shipped");
        lifecyclefixtures::writeShippedFiles(shipped, QStringLiteral("v1.5"));
        const QString library = home.path() + QStringLiteral("/Elsewhere/User Library");
        QVERIFY(QDir().mkpath(library));

        QuittingPrompts answers;
        answers.quitAt = quitAt;
        answers.chosen = library;
        RecordingDetector detector;
        AppDelegate delegate(settings, store, answers,
                             {home.path() + QStringLiteral("/no-daemon"), false,
                              home.path() + QStringLiteral("/daemon.lock")},
                             shipped);
        delegate.setDetector(&detector);
        bool midi = false;
        delegate.setMidiSetupHook([&midi] { midi = true; });
        QSignalSpy approved(&delegate, &AppDelegate::quitApproved);
        answers.quit = [&delegate] {
            delegate.requestQuit();
        };

        delegate.applicationDidFinishLaunching();

        QCOMPARE(approved.count(), 1);
        QCOMPARE(answers.events, prompts);
        QVERIFY(!midi);
        QCOMPARE(detector.calls, QStringList());
    }
};

QTEST_GUILESS_MAIN(TestReviewFaults)
#include "tst_reviewfaults.moc"
