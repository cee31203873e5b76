// SPDX-License-Identifier: MIT
#include "appdelegate.h"
#include "detectorcontrol.h"
#include "lifecyclefixtures.h"
#include "log.h"
#include "persistentstore.h"
#include "singleinstancelock.h"
#include "temphome.h"
#include "userprompts.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QSignalSpy>
#include <QSysInfo>
#include <QtTest>

#include <functional>

namespace {

// Answers every question with "Choose…" and a folder, and quits inside the modal call
// named, as a signal arriving while the alert is up would.
class QuittingPrompts final : public UserPrompts
{
public:
    void inform(const QString &, const QString &) override { events << QStringLiteral("inform"); }
    int ask(const QString &, const QString &, const QStringList &) override
    {
        modal(QStringLiteral("ask"));
        return 0;
    }
    std::optional<QString> chooseFolder(const QString &, const QString &) override
    {
        modal(QStringLiteral("choose"));
        return chosen;
    }
    bool presentError(const QString &) override { return false; }
    void modal(const QString &name)
    {
        events << name;
        if (quitAt == name)
            quit();
    }

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

} // namespace

class TestReviewFaults : public QObject
{
    Q_OBJECT

private slots:
    // After a crash the lock file stays; a reused process id made the daemon look
    // alive for ever, so the application never started it again.
    void lockHolderMustBeTheDaemon_data()
    {
        QTest::addColumn<qint64>("pid"); // 0: this test
        QTest::addColumn<QByteArray>("recordedApp");
        QTest::addColumn<bool>("held");
        const QByteArray self = QCoreApplication::applicationName().toUtf8();
        QTest::newRow("reused id, other program") << 0ll << QByteArray("MarquellDaemon") << false;
        QTest::newRow("reused id, init") << 1ll << QByteArray("MarquellDaemon") << false;
        QTest::newRow("the program that took it") << 0ll << self << true;
    }
    void lockHolderMustBeTheDaemon()
    {
        QFETCH(qint64, pid);
        QFETCH(QByteArray, recordedApp);
        QFETCH(bool, held);
        if (pid == 1 && !QFileInfo::exists(QStringLiteral("/proc/1/comm")))
            QSKIP("no /proc/1/comm to read");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("daemon.lock"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray::number(pid ? pid : QCoreApplication::applicationPid()) + '\n' +
                   recordedApp + '\n' + QSysInfo::machineHostName().toUtf8() + '\n');
        file.close();
        QCOMPARE(SingleInstanceLock::isHeld(path), held);
        SingleInstanceLock next(path);
        QCOMPARE(next.tryAcquire(), !held);
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
        const QString root = home.path();
        QSettings settings(root + QStringLiteral("/settings.ini"), QSettings::IniFormat);
        PersistentStore store;
        QVERIFY(store.open(root + QStringLiteral("/appdata")));
        lifecyclefixtures::writeShippedFiles(root + QStringLiteral("/shipped"),
                                             QStringLiteral("v1.5"));
        QuittingPrompts answers;
        answers.quitAt = quitAt;
        answers.chosen = root + QStringLiteral("/Elsewhere/User Library");
        QVERIFY(QDir().mkpath(answers.chosen));
        RecordingDetector detector;
        AppDelegate delegate(
            settings, store, answers,
            {root + QStringLiteral("/no-daemon"), false, root + QStringLiteral("/daemon.lock")},
            root + QStringLiteral("/shipped"));
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
