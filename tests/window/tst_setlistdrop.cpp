// SPDX-License-Identifier: MIT
#include "windowfixture.h"

#include <QAbstractItemModelTester>
#include <QDropEvent>
#include <QMimeData>

namespace {

std::unique_ptr<QMimeData> plainText(const QString &text)
{
    auto data = std::make_unique<QMimeData>();
    data->setText(text);
    return data;
}

std::unique_ptr<QMimeData> dragFrom(QAbstractItemModel *model, int row)
{
    return std::unique_ptr<QMimeData>(model->mimeData({model->index(row, 0)}));
}

QList<quint64> ids(const QList<Song> &songs)
{
    QList<quint64> out;
    for (const Song &s : songs)
        out.append(s.id);
    return out;
}

} // namespace

class TestSetlistDrop : public QObject
{
    Q_OBJECT

    std::unique_ptr<TempHome> m_home;

    // Drops through the model the way the view does after validation.
    static bool dropOnModel(ShowWindowFixture &f, const QMimeData &data, int row)
    {
        QAbstractItemModel *model = f.setList->model();
        if (!model->canDropMimeData(&data, Qt::MoveAction, row, 0, {}))
            return false;
        return model->dropMimeData(&data, Qt::MoveAction, row, 0, {});
    }

    // A drop as the window system delivers it, at a point of the viewport.
    static bool dropOnViewport(StageRunTableView *table, const QMimeData &data, QPoint at)
    {
        QWidget *viewport = table->viewport();
        QDragEnterEvent enter(at, Qt::MoveAction | Qt::CopyAction, &data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(viewport, &enter);
        QDragMoveEvent move(at, Qt::MoveAction | Qt::CopyAction, &data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(viewport, &move);
        QDropEvent drop(at, Qt::MoveAction | Qt::CopyAction, &data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(viewport, &drop);
        return drop.isAccepted();
    }

private slots:
    void initTestCase() { setUpWindowTestProcess(m_home); }
    void init() { QSettings().clear(); }

    void moveDraggedRow_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("dropRow");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<int>("selected");
        // The entry lands where the drop line is shown.
        QTest::newRow("down to the line above D") << 0 << 3 << QStringList{"B", "C", "A", "D"} << 2;
        QTest::newRow("down to the end") << 0 << 4 << QStringList{"B", "C", "D", "A"} << 3;
        QTest::newRow("down one past itself") << 1 << 3 << QStringList{"A", "C", "B", "D"} << 2;
        QTest::newRow("up to the top") << 3 << 0 << QStringList{"D", "A", "B", "C"} << 0;
        QTest::newRow("up into the middle") << 3 << 1 << QStringList{"A", "D", "B", "C"} << 1;
        QTest::newRow("beyond the end clamps") << 0 << 9 << QStringList{"B", "C", "D", "A"} << 3;
    }
    void moveDraggedRow()
    {
        QFETCH(int, from);
        QFETCH(int, dropRow);
        QFETCH(QStringList, after);
        QFETCH(int, selected);
        ShowWindowFixture f;
        f.load({}, {"A", "B", "C", "D"});
        const auto data = dragFrom(f.setList->model(), from);
        QVERIFY(dropOnModel(f, *data, dropRow));
        QCOMPARE(names(f.songs.setListData()), after);
        QCOMPARE(f.setList->selectedRow(), selected);
        QCOMPARE(f.songs.selectedSetlistIndex(), selected);
        // The whole setlist, then the position of the moved entry.
        QCOMPARE(f.sender.types(), QList<int>({4, 3}));
        QCOMPARE(names(f.sender.setlists.first()), after);
        QCOMPARE(quint8(f.sender.messages.last().at(1)), quint8(selected));
        QCOMPARE(f.setlistCell(selected), after.at(selected));
    }

    void dropOnItsOwnLineChangesNothing_data()
    {
        QTest::addColumn<int>("dropRow");
        QTest::newRow("line above") << 1;
        QTest::newRow("line below") << 2;
    }
    void dropOnItsOwnLineChangesNothing()
    {
        QFETCH(int, dropRow);
        ShowWindowFixture f;
        f.load({}, {"A", "B", "C"});
        QVERIFY(dropOnModel(f, *dragFrom(f.setList->model(), 1), dropRow));
        QCOMPARE(names(f.songs.setListData()), (QStringList{"A", "B", "C"}));
        QVERIFY(f.sender.messages.isEmpty()); // nothing selected: nothing to send

        f.poolPane->selectSetlistRow(2);
        QVERIFY(dropOnModel(f, *dragFrom(f.setList->model(), 1), dropRow));
        QCOMPARE(f.sender.types(), QList<int>({4, 3}));
        QCOMPARE(quint8(f.sender.messages.last().at(1)), quint8(2));
    }

    // Setlist 1 A, 2 B, 3 A; pool holds 10 Blue Hour, 11 Copper Sky.
    void dropGoesByRowOrName_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("row"); // the private row: "own" from the model, "foreign"
        QTest::addColumn<QString>("search");
        QTest::addColumn<int>("dropRow");
        QTest::addColumn<QList<quint64>>("after");
        // Two entries with one name: the dragged one moves, not the first of that name.
        QTest::newRow("own row of a duplicate name") << "A"
                                                     << "own"
                                                     << "" << 0 << QList<quint64>{3, 1, 2};
        // A row number from another running copy must not pick an entry here.
        QTest::newRow("foreign row goes by name") << "A"
                                                  << "foreign"
                                                  << "" << 3 << QList<quint64>{2, 3, 1};
        QTest::newRow("names a setlist entry: first of that name moves")
            << "A"
            << ""
            << "" << 3 << QList<quint64>{2, 3, 1};
        QTest::newRow("names a pool song: inserted at the line")
            << "Copper Sky"
            << ""
            << "" << 1 << QList<quint64>{1, 11, 2, 3};
        QTest::newRow("pool song past the end is appended")
            << "Blue Hour"
            << ""
            << "" << 50 << QList<quint64>{1, 2, 3, 10};
        QTest::newRow("names nothing") << "Nobody"
                                       << ""
                                       << "" << 0 << QList<quint64>{1, 2, 3};
        QTest::newRow("pool song hidden by the search") << "Copper Sky"
                                                        << ""
                                                        << "blue" << 0 << QList<quint64>{1, 2, 3};
        QTest::newRow("case must match") << "copper sky"
                                         << ""
                                         << "" << 0 << QList<quint64>{1, 2, 3};
    }
    void dropGoesByRowOrName()
    {
        QFETCH(QString, text);
        QFETCH(QString, row);
        QFETCH(QString, search);
        QFETCH(int, dropRow);
        QFETCH(QList<quint64>, after);
        ShowWindowFixture f;
        f.songs.replaceSongPool({song(10, "Blue Hour"), song(11, "Copper Sky")});
        f.songs.replaceSetlist(QList<Song>{song(1, "A"), song(2, "B"), song(3, "A")});
        f.poolPane->searchFieldIsChanged(search);
        f.sender.clear();
        auto data = row == QLatin1String("own") ? dragFrom(f.setList->model(), 2) : plainText(text);
        QCOMPARE(data->text(), text);
        if (row == QLatin1String("foreign"))
            data->setData(SongTableModel::setlistRowMimeType,
                          QByteArray::number(QCoreApplication::applicationPid() + 1) + " 2");
        QVERIFY(dropOnModel(f, *data, dropRow));
        QCOMPARE(ids(f.songs.setListData()), after);
        QCOMPARE(f.setList->model()->rowCount(), after.size());
    }

    void dropWithoutTextIsRefused()
    {
        ShowWindowFixture f;
        f.load({}, {"A", "B"});
        QMimeData data;
        data.setData(QStringLiteral("application/octet-stream"), "A");
        QVERIFY(!f.setlistPane->acceptDrop(data, 0));
        QVERIFY(!f.setList->model()->dropMimeData(&data, Qt::MoveAction, 0, 0, {}));
        QCOMPARE(names(f.songs.setListData()), (QStringList{"A", "B"}));
        QVERIFY(f.sender.messages.isEmpty());
    }

    void viewportDrops_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("targetRow"); // -1: below the last row
        QTest::addColumn<bool>("lowerHalf");
        QTest::addColumn<QStringList>("after");
        QTest::newRow("top of D: line above D")
            << 0 << 3 << false << QStringList{"B", "C", "A", "D"};
        QTest::newRow("lower half of B: line below B")
            << 3 << 1 << true << QStringList{"A", "B", "D", "C"};
        QTest::newRow("top of A") << 2 << 0 << false << QStringList{"C", "A", "B", "D"};
        QTest::newRow("below the rows") << 1 << -1 << false << QStringList{"A", "C", "D", "B"};
    }
    void viewportDrops()
    {
        QFETCH(int, from);
        QFETCH(int, targetRow);
        QFETCH(bool, lowerHalf);
        QFETCH(QStringList, after);
        ShowWindowFixture f;
        f.load({}, {"A", "B", "C", "D"});
        f.window->resize(1000, 900);
        f.show();
        QPoint at;
        if (targetRow < 0) {
            const QRect last = f.setList->visualRect(f.setList->model()->index(3, 0));
            at = QPoint(last.center().x(), last.bottom() + 20);
            QVERIFY(at.y() < f.setList->viewport()->height());
        } else {
            const QRect r = f.setList->visualRect(f.setList->model()->index(targetRow, 0));
            at = QPoint(r.center().x(), lowerHalf ? r.bottom() - 3 : r.top() + 3);
        }
        const auto data = dragFrom(f.setList->model(), from);
        QVERIFY(dropOnViewport(f.setList, *data, at));
        QCOMPARE(names(f.songs.setListData()), after);
        QCOMPARE(f.sender.types(), QList<int>({4, 3}));
        QCOMPARE(names(f.sender.setlists.first()), after);
    }

    // The pool is a drag source, never a target.
    void viewportDropFromPool()
    {
        ShowWindowFixture f;
        f.load({"Blue Hour", "Copper Sky"}, {"Blue Hour"});
        f.window->resize(1000, 900);
        f.show();
        QAbstractItemModel *pool = f.pool->model();
        const auto data = dragFrom(pool, 1);
        QCOMPARE(data->text(), QStringLiteral("Copper Sky"));
        QVERIFY(!data->hasFormat(SongTableModel::setlistRowMimeType));
        QVERIFY(!pool->canDropMimeData(data.get(), Qt::MoveAction, 0, 0, {}));
        QVERIFY(!pool->dropMimeData(data.get(), Qt::MoveAction, 0, 0, {}));
        const QRect r = f.setList->visualRect(f.setList->model()->index(0, 0));
        QVERIFY(dropOnViewport(f.setList, *data, QPoint(r.center().x(), r.bottom() - 2)));
        QCOMPARE(names(f.songs.setListData()), (QStringList{"Blue Hour", "Copper Sky"}));
        QCOMPARE(f.setList->selectedRow(), 1);
        QCOMPARE(f.sender.types(), QList<int>({4, 3}));

        // Dropping onto the pool does nothing.
        const QRect p = f.pool->visualRect(pool->index(0, 0));
        QVERIFY(!dropOnViewport(f.pool, *dragFrom(f.setList->model(), 0), p.center()));
        QCOMPARE(f.songs.setListData().size(), 2);
        QCOMPARE(f.songs.songPoolData().size(), 2);
    }

    void modelsStayConsistent()
    {
        ShowWindowFixture f;
        QAbstractItemModelTester setlistTester(
            f.setList->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        QAbstractItemModelTester poolTester(f.pool->model(),
                                            QAbstractItemModelTester::FailureReportingMode::QtTest);
        f.load({"Blue Hour", "Copper Sky", "Glass Harbour"}, {"Blue Hour", "Glass Harbour"});
        // Rows are dragged but never dropped onto: drops land on the line between them.
        const Qt::ItemFlags rowFlags = f.setList->model()->flags(f.setList->model()->index(0, 0));
        QVERIFY((rowFlags & Qt::ItemIsDragEnabled) && !(rowFlags & Qt::ItemIsDropEnabled));
        f.poolPane->searchFieldIsChanged(QStringLiteral("o"));
        f.poolPane->selectSetlistRow(1);
        QVERIFY(dropOnModel(f, *dragFrom(f.setList->model(), 1), 0));
        f.setlistPane->removeFromSetlistButtonPressed();
        f.songs.replaceSetlist(std::nullopt);
        QCOMPARE(f.setList->model()->rowCount(), 0);
        QCOMPARE(f.pool->model()->rowCount(), 3);
        QCOMPARE(f.setList->model()->index(0, 0).isValid(), false);
    }
};

QTEST_MAIN(TestSetlistDrop)
#include "tst_setlistdrop.moc"
