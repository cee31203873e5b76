// SPDX-License-Identifier: MIT
#include "lifecyclefixtures.h"
#include "persistentstore.h"
#include "temphome.h"

#include <QtTest>

#include <memory>

using namespace lifecyclefixtures;

class TestPersistentStore : public QObject
{
    Q_OBJECT

    QString folder() const { return m_home->path() + QStringLiteral("/appdata"); }
    std::unique_ptr<TempHome> m_home;

private slots:
    void init() { m_home = std::make_unique<TempHome>(); }
    void cleanup() { m_home.reset(); }

    // The first save inserts, later ones update; the value survives reopening.
    void savedValueSurvivesReopening_data()
    {
        QTest::addColumn<qint64>("id");
        QTest::newRow("none selected") << qint64(-1);
        QTest::newRow("beyond 32 bits") << qint64(0x7fff'ffff'ffffLL);
    }
    void savedValueSurvivesReopening()
    {
        QFETCH(qint64, id);
        QCoreApplication::setApplicationName(QStringLiteral("Marquell"));
        QVERIFY(PersistentStore::defaultFolder().startsWith(m_home->path()));
        {
            PersistentStore store;
            QVERIFY(store.open(folder()));
            QCOMPARE(store.filePath(), folder() + QStringLiteral("/StageRun__Storyboard_.sqlite"));
            QCOMPARE(store.lastPortUniqueID(), std::nullopt);
            QVERIFY(store.save()); // nothing to do is not a failure
            store.setLastPortUniqueID(11);
            QVERIFY(store.save());
            store.setLastPortUniqueID(id);
            QVERIFY(store.hasChanges());
            QVERIFY(store.save());
            QVERIFY(!store.hasChanges());
            QCOMPARE(storedIds(store.filePath()), QList<qint64>{id});
        }
        PersistentStore again;
        QVERIFY(again.open(folder()));
        QCOMPARE(again.lastPortUniqueID(), std::optional<qint64>(id));
    }

    void writerUpdatesTheFirstRecord()
    {
        PersistentStore store;
        QVERIFY(store.open(folder()));
        QVERIFY(peerExec(store.filePath(),
                         "INSERT INTO Preferences (lastPortUniqueID) VALUES (1), (2)"));
        QCOMPARE(store.lastPortUniqueID(), std::optional<qint64>(1));
        store.setLastPortUniqueID(7);
        QVERIFY(store.save());
        QCOMPARE(storedIds(store.filePath()), (QList<qint64>{7, 2}));
    }

    // A failed save must leave the edit pending, or the quit rule has nothing to retry.
    void failedSaveKeepsThePendingValue()
    {
        PersistentStore store;
        QVERIFY(store.open(folder()));
        QVERIFY(peerExec(store.filePath(), QStringLiteral("DROP TABLE Preferences")));
        store.setLastPortUniqueID(42);
        QVERIFY(!store.save());
        QVERIFY(!store.lastError().isEmpty());
        QVERIFY(store.hasChanges());
        QCOMPARE(store.lastPortUniqueID(), std::optional<qint64>(42));
        QVERIFY(peerExec(store.filePath(), "CREATE TABLE Preferences (id INTEGER PRIMARY KEY "
                                           "AUTOINCREMENT, lastPortUniqueID INTEGER)"));
        QVERIFY(store.save());
        QCOMPARE(storedIds(store.filePath()), QList<qint64>{42});
    }

    void unusableStoreIsReported_data()
    {
        QTest::addColumn<QString>("blocker"); // a plain file at this path relative to the folder
        QTest::newRow("folder is a file") << QString();
        QTest::newRow("store is not a database") << QStringLiteral("/StageRun__Storyboard_.sqlite");
    }
    void unusableStoreIsReported()
    {
        QFETCH(QString, blocker);
        QVERIFY(writeFile(folder() + blocker, QByteArray(4096, 'x')));
        PersistentStore store;
        QVERIFY(!store.open(folder()));
        QVERIFY(!store.lastError().isEmpty());
        store.setLastPortUniqueID(3);
        QVERIFY(!store.save());
        QVERIFY(store.hasChanges());
    }
};

QTEST_GUILESS_MAIN(TestPersistentStore)
#include "tst_persistentstore.moc"
