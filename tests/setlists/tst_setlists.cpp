// SPDX-License-Identifier: MIT
// The setlist library: the store and its migration, matching, exchange files, the
// library's operations and the printed copy made by a second process.
#include "livelinkcodec.h"
#include "persistentstore.h"
#include "recordingsender.h"
#include "setlistexchange.h"
#include "setlistlibrary.h"
#include "setlistprint.h"
#include "setliststore.h"
#include "songlists.h"

#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

using songlists::song;

namespace {

QList<Song> pool()
{
    return {song(11, "Opening Lights", "4:12"), song(12, "Midnight Engine", "5:03"),
            song(13, "Glass Harbour", "3:47"), song(14, "Northern Wire", "4:30")};
}

QStringList entryNames(const SavedSetlist &s)
{
    QStringList out;
    for (const SetlistEntry &e : s.entries)
        out.append(e.name);
    return out;
}

// A store folder with an open store and the library on it.
struct Library
{
    QTemporaryDir dir;
    PersistentStore store;
    std::unique_ptr<SetlistStore> rows;
    std::unique_ptr<SetlistLibrary> model;
    explicit Library(const QString &folder = {})
    {
        const QString path = folder.isEmpty() ? dir.path() : folder;
        QVERIFY(store.open(path));
        rows = std::make_unique<SetlistStore>(store.database(), store.libraryError());
        model = std::make_unique<SetlistLibrary>(*rows);
        QVERIFY(model->reload());
    }
};

} // namespace

class TestSetlists : public QObject
{
    Q_OBJECT

private slots:
    void migrationKeepsPreferencesAndRoundTrips();
    void writeFailureKeepsWhatWasSaved_data();
    void writeFailureKeepsWhatWasSaved();
    void matching_data();
    void matching();
    void importing_data();
    void importing();
    void exportRoundTrips();
    void libraryOperations();
    void loading_data();
    void loading();
    void printedBySecondProcess();
};

void TestSetlists::migrationKeepsPreferencesAndRoundTrips()
{
    QTemporaryDir dir;
    {
        // The file as the build before the library made it.
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("old"));
        db.setDatabaseName(dir.filePath(PersistentStore::containerName() + ".sqlite"));
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec("CREATE TABLE IF NOT EXISTS Preferences (id INTEGER PRIMARY KEY "
                       "AUTOINCREMENT, lastPortUniqueID INTEGER NOT NULL DEFAULT -1)"));
        QVERIFY(q.exec("INSERT INTO Preferences (lastPortUniqueID) VALUES (4242)"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("old"));
    SavedSetlist festival{0,
                          "Festival",
                          "Opening … Wire, 4 songs",
                          "k1",
                          QDateTime::currentDateTimeUtc(),
                          {{0xFFFF'FFFF'FFFF'FF01ull, "Opening Lights", "4:12", true},
                           {12, "Midnight Engine", "5:03", false}}};
    {
        Library lib(dir.path());
        QCOMPARE(lib.store.lastPortUniqueID(), std::optional<qint64>(4242));
        QVERIFY(lib.store.libraryError().isEmpty());
        QVERIFY(lib.rows->insert(festival, 0));
    }
    Library again(dir.path()); // opening a migrated file migrates nothing
    QCOMPARE(again.store.lastPortUniqueID(), std::optional<qint64>(4242));
    QSqlQuery version(again.store.database());
    QVERIFY(version.exec("PRAGMA user_version") && version.next());
    QCOMPARE(version.value(0).toInt(), PersistentStore::kSchemaVersion);
    QCOMPARE(again.model->rowCount(), 1);
    const SavedSetlist &read = again.model->at(0);
    QCOMPARE(read.name, festival.name);
    QCOMPARE(read.setName, festival.setName);
    QCOMPARE(read.entries, festival.entries);
}

void TestSetlists::writeFailureKeepsWhatWasSaved_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("error");
    // The connection read-only is what SQLite does with a write-protected file.
    QTest::newRow("read-only") << "readonly"
                               << "readonly";
    QTest::newRow("disk full") << "full"
                               << "full";
}

void TestSetlists::writeFailureKeepsWhatWasSaved()
{
    QFETCH(QString, how);
    QFETCH(QString, error);
    Library lib;
    QCOMPARE(lib.model->saveCurrent("Kept", pool(), {}), 0);
    QSqlDatabase db = lib.store.database();
    if (how == "readonly") {
        db.close();
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        QVERIFY(db.open());
    } else {
        QSqlQuery q(db);
        QVERIFY(q.exec("PRAGMA page_count") && q.next());
        QVERIFY(q.exec(QStringLiteral("PRAGMA max_page_count = %1").arg(q.value(0).toInt())));
    }
    QList<Song> big;
    for (int i = 0; i < 400; ++i)
        big.append(song(1000 + i, QString(200, QChar('a' + i % 26))));
    QSignalSpy failed(lib.model.get(), &SetlistLibrary::failed);
    QCOMPARE(lib.model->saveCurrent("Lost", big, {}), -1);
    if (how == "readonly") { // a full disk still takes a rename or a delete
        QCOMPARE(lib.model->rename(0, "Other"), -1);
        QVERIFY(!lib.model->remove(0));
        QCOMPARE(failed.size(), 3);
    }
    QVERIFY2(lib.model->lastError().contains(error), qPrintable(lib.model->lastError()));
    QVERIFY(lib.model->reload());
    QCOMPARE(lib.model->rowCount(), 1);
    QCOMPARE(lib.model->at(0).name, QStringLiteral("Kept"));
    QCOMPARE(lib.model->at(0).entries.size(), 4);
    QSqlQuery check(db);
    QVERIFY(check.exec("PRAGMA integrity_check") && check.next());
    QCOMPARE(check.value(0).toString(), QStringLiteral("ok"));
}

void TestSetlists::matching_data()
{
    QTest::addColumn<QList<SetlistEntry>>("entries");
    QTest::addColumn<QList<quint64>>("sent");
    QTest::addColumn<QString>("summary");
    QTest::newRow("by id, renamed in Live")
        << QList<SetlistEntry>{{13, "Old Title", "", false}} << QList<quint64>{13} << "";
    QTest::newRow("by exact name, new id")
        << QList<SetlistEntry>{{99, "Northern Wire", "", false}, {0, "Glass Harbour", "", false}}
        << QList<quint64>{14, 13} << "";
    QTest::newRow("by loose name")
        << QList<SetlistEntry>{{0, " midnight  ENGINE", "", false}, {0, "openinglights", "", false}}
        << QList<quint64>{12, 11} << "";
    QTest::newRow("missing kept out")
        << QList<SetlistEntry>{{0, "Gone", "", false}, {11, "x", "", false}, {0, "Lost", "", false}}
        << QList<quint64>{11} << "2 of 3 songs are not in this set";
    QTest::newRow("one missing") << QList<SetlistEntry>{{0, "Gone", "", false}, {12, "", "", false}}
                                 << QList<quint64>{12} << "1 of 2 songs is not in this set";
}

void TestSetlists::matching()
{
    QFETCH(QList<SetlistEntry>, entries);
    QFETCH(QList<quint64>, sent);
    QFETCH(QString, summary);
    const SetlistMatch m = SetlistMatch::match(entries, pool());
    QList<quint64> ids;
    for (const Song &s : m.songsToSend())
        ids.append(s.id);
    QCOMPARE(ids, sent);
    QCOMPARE(m.missingSummary(), summary);
    QCOMPARE(m.found.size(), entries.size());
}

void TestSetlists::importing_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("names"); // empty: refused
    QTest::addColumn<QString>("error");
    QTest::newRow("text") << QByteArray(
                                 "# Acoustic\n\nGlass Harbour\r\n  # a comment\n Blue Hour \n")
                          << QStringList{"Glass Harbour", "Blue Hour"} << "";
    QTest::newRow("json") << QByteArray(R"({"format":"marquell-setlist","name":"J","entries":
        [{"id":"18446744073709551615","name":"A","length":"1:00","stopAfter":true}]})")
                          << QStringList{"A"} << "";
    QTest::newRow("not utf-8") << QByteArray("One\nTw\xff\xfeo\n") << QStringList()
                               << "Line 2: not UTF-8";
    QTest::newRow("only comments") << QByteArray("# x\n\n") << QStringList() << "No song names";
    QTest::newRow("name too long") << "A\nB\n" + QByteArray(256, 'x') << QStringList() << "Line 3:";
    QTest::newRow("control char") << QByteArray("A\nB\x07\n") << QStringList()
                                  << "Line 2: a control";
    QTest::newRow("too many") << QByteArray("x\n").repeated(1001) << QStringList()
                              << "Line 1001: more than 1000";
    QTest::newRow("too big") << QByteArray(1024 * 1024 + 1, 'x') << QStringList()
                             << "larger than 1 MiB";
    QTest::newRow("bad json") << QByteArray("{\"format\":\n\"marquell-setlist\",,}")
                              << QStringList() << "Line 2: not valid JSON";
    QTest::newRow("json bad id") << QByteArray("{\"format\":\"marquell-setlist\",\"entries\":[\n"
                                               "{\"name\":\"A\"},\n{\"name\":\"B\",\"id\":7}]}")
                                 << QStringList() << "Line 3 (entry 2): the song id";
    QTest::newRow("json other") << QByteArray("{\"entries\":[]}") << QStringList()
                                << "not a Marquell setlist";
}

void TestSetlists::importing()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, names);
    QFETCH(QString, error);
    const setlistexchange::ImportResult r = setlistexchange::parse(bytes, "Fallback");
    QCOMPARE(r.setlist.has_value(), !names.isEmpty());
    QVERIFY2(error.isEmpty() ? r.error.isEmpty() : r.error.contains(error), qPrintable(r.error));
    if (r.setlist)
        QCOMPARE(entryNames(*r.setlist), names);
}

void TestSetlists::exportRoundTrips()
{
    const SavedSetlist s{0,     "Headline",
                         "set", "k",
                         {},    {{~0ull, "Ünïcode Song", "4:00", true}, {12, "B", "", false}}};
    const auto json = setlistexchange::parse(setlistexchange::toJson(s), "x");
    QVERIFY(json.setlist);
    QCOMPARE(json.setlist->name, s.name);
    QCOMPARE(json.setlist->entries, s.entries);
    const auto text = setlistexchange::parse(setlistexchange::toText(s), "x");
    QVERIFY(text.setlist);
    QCOMPARE(text.setlist->name, s.name);
    QCOMPARE(entryNames(*text.setlist), entryNames(s));
}

void TestSetlists::libraryOperations()
{
    Library lib;
    SetlistLibrary &m = *lib.model;
    const QList<Song> p = pool();
    m.setOpenSet(OpenSetIdentity::fromPool(p));
    const auto marked = [](quint64 id) {
        return id == 12;
    };
    QCOMPARE(m.saveCurrent("  Festival   slot ", p.mid(0, 2), marked), 0);
    QCOMPARE(m.saveCurrent("festival SLOT", p, {}), 1);
    QCOMPARE(m.at(0).name, QStringLiteral("Festival slot"));
    QCOMPARE(m.at(1).name, QStringLiteral("festival SLOT (2)"));
    QVERIFY(m.at(0).entries[1].stopAfter);
    QCOMPARE(m.saveCurrent("   ", p, {}), -1);
    QCOMPARE(m.duplicate(0), 1);
    QCOMPARE(m.at(1).name, QStringLiteral("Festival slot (3)"));
    QCOMPARE(m.rename(2, "Encore"), 2);
    QCOMPARE(m.rename(2, "encore"), 2); // its own name is no duplicate
    QCOMPARE(m.move(2, -2), 0);
    QVERIFY(m.remove(1));
    QCOMPARE(m.undoRemove(), 1);
    QCOMPARE(m.undoRemove(), -1);
    // A setlist of another set goes after the open set's, whatever its stored order.
    m.setOpenSet(OpenSetIdentity::fromPool({song(1, "Elsewhere")}));
    QCOMPARE(m.saveCurrent("Other set", {song(1, "Elsewhere")}, {}), 0);
    m.setOpenSet(OpenSetIdentity::fromPool(p));

    Library reopened(lib.dir.path()); // what is stored is what was shown
    reopened.model->setOpenSet(OpenSetIdentity::fromPool(p));
    QStringList names;
    for (int i = 0; i < reopened.model->rowCount(); ++i)
        names.append(reopened.model->at(i).name);
    QCOMPARE(names, (QStringList{"encore", "Festival slot", "Festival slot (3)", "Other set"}));
}

void TestSetlists::loading_data()
{
    QTest::addColumn<int>("selected");
    QTest::addColumn<bool>("playing");
    QTest::addColumn<bool>("asks");
    QTest::newRow("stopped") << 0 << false << false;
    QTest::newRow("playing song keeps its place") << 1 << true << false;
    QTest::newRow("playing song moves") << 0 << true << true;
}

void TestSetlists::loading()
{
    QFETCH(int, selected);
    QFETCH(bool, playing);
    QFETCH(bool, asks);
    Library lib;
    const QList<Song> p = pool();
    // Saved: Glass Harbour (marked), Midnight Engine, a song this set lacks, Northern Wire.
    QVERIFY(lib.model->addImported({0,
                                    "Saved",
                                    "",
                                    "",
                                    {},
                                    {{13, "Glass Harbour", "", true},
                                     {0, "midnight engine", "", false},
                                     {0, "Not Here", "", true},
                                     {0, "Northern Wire", "", false}}}) == 0);
    const SetlistLibrary::LoadPlan plan =
        lib.model->planLoad(0, {p, {p[0], p[1]}, selected, playing});
    QCOMPARE(plan.summary, QStringLiteral("1 of 4 songs is not in this set"));
    QCOMPARE(!plan.question.isEmpty(), asks);
    RecordingSender sender;
    // Live marks Northern Wire now; the saved setlist does not.
    lib.model->load(plan, lib.model->at(0).entries, sender, [](quint64 id) { return id == 14; });
    QCOMPARE(sender.messages, (QList<QByteArray>{livelink::encodeSetlist({p[2], p[1], p[3]}),
                                                 livelink::encodeSetStopAfter(13, true),
                                                 livelink::encodeSetStopAfter(14, false)}));
}

void TestSetlists::printedBySecondProcess()
{
    if (QStandardPaths::findExecutable("pdftotext").isEmpty())
        QSKIP("pdftotext (poppler-utils) is not installed; scripts/setup installs it");
    QTemporaryDir data;
    QList<Song> many;
    for (int i = 1; i <= 40; ++i)
        many.append(song(i, QStringLiteral("Song number %1").arg(i), "3:00"));
    {
        Library lib(data.filePath("Marquell")); // where the program's AppDataLocation is
        QCOMPARE(lib.model->saveCurrent("Short", pool(), [](quint64 id) { return id == 12; }), 0);
        QCOMPARE(lib.model->saveCurrent("Long", many, {}), 1);
    }
    struct Case
    {
        QString name;
        QStringList wanted;
        int minPages;
    };
    for (const Case &c :
         {Case{"short", {"Opening Lights", "Midnight Engine", "STOP", "4 songs", "total 17:32"}, 1},
          Case{"Long", {"Song number 40", "40 songs", "total 2:00:00", "page 2 of"}, 2}}) {
        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name);
        env.insert("XDG_DATA_HOME", data.path());
        env.insert("HOME", data.path());
        app.setProcessEnvironment(env);
        const QString pdf = data.filePath(c.name + ".pdf");
        app.start(MARQUELL_APP, {"--print-setlist", c.name, "--output", pdf});
        QVERIFY(app.waitForFinished(60000));
        QVERIFY2(app.exitCode() == 0, app.readAllStandardError().constData());
        QProcess text;
        text.start("pdftotext", {"-layout", pdf, "-"});
        QVERIFY(text.waitForFinished(30000));
        const QString out = QString::fromUtf8(text.readAllStandardOutput());
        for (const QString &wanted : c.wanted)
            QVERIFY2(out.contains(wanted), qPrintable(wanted + " not in:\n" + out));
        QVERIFY(out.count(QChar('\f')) >= c.minPages);
    }
    QProcess missing;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", data.path());
    env.insert("HOME", data.path());
    missing.setProcessEnvironment(env);
    missing.start(MARQUELL_APP, {"--print-setlist", "Nope", "--output", data.filePath("x.pdf")});
    QVERIFY(missing.waitForFinished(60000));
    QCOMPARE(missing.exitCode(), 1);
    QCOMPARE(setlistprint::songPointSize(4, QPageSize(QPageSize::A4)), setlistprint::kMaxSongPoint);
    QCOMPARE(setlistprint::songPointSize(40, QPageSize(QPageSize::Letter)),
             setlistprint::kMinSongPoint);
}

QTEST_GUILESS_MAIN(TestSetlists)
#include "tst_setlists.moc"
