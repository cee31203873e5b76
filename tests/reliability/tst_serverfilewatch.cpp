// SPDX-License-Identifier: MIT
// server.json is watched through renames over it, and from before its folder exists.
#include "livebytes.h"
#include "serverfilewatcher.h"

#include <QDir>
#include <QSaveFile>
#include <QSignalSpy>
#include <QtTest>

using livebytes::portJson;

namespace {

enum class Write
{
    Atomic, // the Remote Script's way: a temporary file renamed over the old one
    InPlace,
    Remove,
    Neighbour, // another file in the same folder
};

void apply(const QString &path, Write how, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (how == Write::Remove)
        QVERIFY(QFile::remove(path));
    if (how == Write::InPlace || how == Write::Neighbour) {
        QFile file(how == Write::InPlace ? path : path + QStringLiteral(".other"));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    } else if (how == Write::Atomic) {
        QSaveFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        QVERIFY(file.commit());
    }
}

} // namespace

class TestServerFileWatch : public QObject
{
    Q_OBJECT

private slots:
    // Each step must (or must not) be reported; the watch has to last through renames
    // over the watched file, and to find a folder made after the start.
    void reportsEveryChangeOfTheFile_data()
    {
        QTest::addColumn<bool>("folderExists");
        QTest::newRow("folder there") << true;
        QTest::newRow("folder made later") << false;
    }
    void reportsEveryChangeOfTheFile()
    {
        QFETCH(bool, folderExists);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Library/Marquell/server.json"));
        if (folderExists)
            QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        ServerFileWatcher watcher(path);
        QSignalSpy changes(&watcher, &ServerFileWatcher::changed);
        const QList<QPair<Write, bool>> steps{{Write::Atomic, true},  {Write::Atomic, true},
                                              {Write::Atomic, true},  {Write::Neighbour, false},
                                              {Write::InPlace, true}, {Write::Remove, false},
                                              {Write::Atomic, true}};
        for (qsizetype i = 0; i < steps.size(); ++i) {
            const auto [how, reported] = steps[i];
            apply(path, how, portJson(6000 + int(i)));
            if (reported)
                QTRY_COMPARE_WITH_TIMEOUT(changes.count(), 1, 2000);
            else
                QTest::qWait(100); // nothing to wait for: an event that must not come
            QCOMPARE(changes.count(), int(reported));
            changes.clear();
        }
    }
};

QTEST_GUILESS_MAIN(TestServerFileWatch)
#include "tst_serverfilewatch.moc"
