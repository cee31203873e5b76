// SPDX-License-Identifier: MIT
#pragma once

#include "daemonlauncher.h"
#include "recordingsender.h"
#include "showwindow.h"
#include "songlists.h"
#include "songmanager.h"
#include "songtablemodel.h"
#include "stageruntableview.h"
#include "stagerunviewcontroller.h"
#include "temphome.h"

#include <QAbstractItemModelTester>
#include <QCoreApplication>
#include <QSettings>
#include <QtTest>

#include <memory>

using songlists::names;
using songlists::song;

struct CountingLauncher final : public DaemonLauncher
{
    void launchDaemonIfNeeded() override { ++launches; }
    bool isDaemonRunning() const override { return running; }
    int launches = 0;
    bool running = false;
};

// "ABC" -> A, B, C: short setlists written as one word.
inline QStringList letters(const QString &word)
{
    return word.split(QString(), Qt::SkipEmptyParts);
}

inline QList<Song> songsNamed(const QStringList &names, quint64 firstId = 1)
{
    QList<Song> out;
    for (const QString &name : names)
        out.append(song(firstId++, name));
    return out;
}

// The bytes that select a setlist position in Live.
inline QByteArray selectIndex(int row)
{
    return QByteArray("\x03", 1) + char(row);
}

// Settings paths are fixed on first use per process, so one temporary home serves the
// whole test executable; each test starts from empty settings.
inline void setUpWindowTestProcess(std::unique_ptr<TempHome> &home)
{
    QCoreApplication::setOrganizationName(QStringLiteral("MarquellTests"));
    QCoreApplication::setApplicationName(QStringLiteral("ShowWindowTests"));
    home = std::make_unique<TempHome>(); // also puts QStandardPaths in test mode
    QVERIFY(QSettings().fileName().startsWith(home->path()));
}

// A whole show window over a real song manager and a recording sender.
struct ShowWindowFixture
{
    RecordingSender sender;
    CountingLauncher launcher;
    SongManager songs{sender};
    ShowWindowServices services{songs, sender, launcher};
    std::unique_ptr<StageRunMainWindow> window = createShowWindow(services);
    StagerunViewController *setlistPane = window->setlistPane();
    StagerunViewController *poolPane = window->songPoolPane();
    StageRunTableView *setList = setlistPane->setList();
    StageRunTableView *pool = poolPane->songPool();

    // Every change any test makes is also checked against the model contracts.
    using Tester = QAbstractItemModelTester;
    Tester setlistTester{setList->model(), Tester::FailureReportingMode::QtTest};
    Tester poolTester{pool->model(), Tester::FailureReportingMode::QtTest};

    // Pool and setlist as Live would send them (setlist entries named like a pool song
    // are that song), then nothing recorded.
    void load(const QStringList &poolNames, const QStringList &setlistNames)
    {
        songs.replaceSongPool(songsNamed(poolNames, 100));
        QList<Song> setlist = songsNamed(setlistNames, 900);
        for (Song &entry : setlist)
            for (const Song &s : songs.songPoolData())
                if (s.name == entry.name)
                    entry = s;
        songs.replaceSetlist(setlist);
        sender.clear();
    }

    void show()
    {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }

    QString setlistCell(int row) const { return setList->model()->index(row, 0).data().toString(); }

    void clickRow(StageRunTableView *table, int row) const
    {
        const QRect rect = table->visualRect(table->model()->index(row, 0));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, rect.center());
    }
};
