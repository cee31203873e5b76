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

namespace {

// Answers every question with "Choose…" and a folder, later, and has the delegate quit
// while the alert named is open, as a signal arriving then would; prompts and detector
// calls go into one list.
class QuittingPrompts final : public UserPrompts,
                              public DetectorControl,
                              public lifecyclefixtures::LaterAnswers
{
public:
    void inform(Tone, const QString &, const QString &) override
    {
        opened(QStringLiteral("inform"));
    }
    int ask(const QString &, const QString &, const QStringList &) override { return 0; }
    void askLater(const QString &, const QString &, const QStringList &, Answered answered) override
    {
        opened(QStringLiteral("ask"));
        later([answered] { answered(0); });
    }
    void chooseFolder(const QString &, const QString &, Chosen chosen) override
    {
        opened(QStringLiteral("choose"));
        later([this, chosen] { chosen(this->chosen); });
    }
    bool presentError(const QString &) override { return false; }
    void updateParameters(const QString &, int) override { events << QStringLiteral("update"); }
    void startDetection() override { events << QStringLiteral("start"); }
    void opened(const QString &name)
    {
        events << name;
        if (quitAt == name)
            delegate->requestQuit();
    }

    QString quitAt;
    QString chosen;
    AppDelegate *delegate = nullptr;
    QStringList events;
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
        QVERIFY(lifecyclefixtures::writeFile(
            path, QByteArray::number(pid ? pid : QCoreApplication::applicationPid()) + '\n' +
                      recordedApp + '\n' + QSysInfo::machineHostName().toUtf8() + '\n'));
        QCOMPARE(SingleInstanceLock::isHeld(path), held);
        SingleInstanceLock next(path);
        QCOMPARE(next.tryAcquire(), !held);
    }

    // SIGTERM while the User Library prompt was open went on during quit: the launch
    // to the search for Live, or the answer to the chooser or to installing.
    void quitDuringLaunchPromptEndsTheLaunch_data()
    {
        QTest::addColumn<QString>("quitAt");
        QTest::addColumn<QStringList>("prompts");
        QTest::newRow("at the question") << "ask" << QStringList{"ask"};
        QTest::newRow("at the folder chooser")
            << "choose" << QStringList{"ask", "midi", "update", "start", "choose"};
    }
    void quitDuringLaunchPromptEndsTheLaunch()
    {
        QFETCH(QString, quitAt);
        QFETCH(QStringList, prompts);
        TempHome home;
        mlog::Capture log; // keeps the system log clean
        const QString root = home.path() + '/';
        QSettings settings(root + "settings.ini", QSettings::IniFormat);
        PersistentStore store;
        QVERIFY(store.open(root + "appdata"));
        lifecyclefixtures::writeShippedFiles(root + "shipped", QStringLiteral("v1.5"));
        QuittingPrompts answers;
        answers.quitAt = quitAt;
        answers.chosen = root + "Elsewhere/User Library";
        QVERIFY(QDir().mkpath(answers.chosen));
        AppDelegate delegate(settings, store, answers,
                             {root + "no-daemon", false, root + "daemon.lock"}, root + "shipped");
        answers.delegate = &delegate;
        delegate.setDetector(&answers);
        delegate.setMidiSetupHook([&answers] { answers.events << QStringLiteral("midi"); });
        QSignalSpy approved(&delegate, &AppDelegate::quitApproved);
        delegate.applicationDidFinishLaunching();
        QTRY_COMPARE(answers.pending, 0);
        QCOMPARE(approved.count(), 1);
        QCOMPARE(answers.events, prompts);
    }
};

QTEST_GUILESS_MAIN(TestReviewFaults)
#include "tst_reviewfaults.moc"
