// SPDX-License-Identifier: MIT
#include "backgroundcolorbox.h"
#include "customheaderview.h"
#include "toppaddedtextfieldcell.h"
#include "windowfixture.h"

#include <QDropEvent>
#include <QMimeData>
#include <QStandardItemModel>

namespace {

std::unique_ptr<QMimeData> dragFrom(QAbstractItemModel *model, int row)
{
    return std::unique_ptr<QMimeData>(model->mimeData({model->index(row, 0)}));
}

// Drops through the model the way the view does after validation.
bool dropOnModel(ShowWindowFixture &f, const QMimeData &data, int row)
{
    QAbstractItemModel *model = f.setList->model();
    return model->canDropMimeData(&data, Qt::MoveAction, row, 0, {}) &&
           model->dropMimeData(&data, Qt::MoveAction, row, 0, {});
}

// A drop as the window system delivers it, at a point of the viewport.
bool dropOnViewport(StageRunTableView *table, const QMimeData &data, QPoint at)
{
    const Qt::DropActions actions = Qt::MoveAction | Qt::CopyAction;
    QDragEnterEvent enter(at, actions, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(table->viewport(), &enter);
    QDragMoveEvent move(at, actions, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(table->viewport(), &move);
    QDropEvent drop(at, actions, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(table->viewport(), &drop);
    return drop.isAccepted();
}

class PaintCounter final : public QObject
{
public:
    int paints = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

} // namespace

// Drops onto the setlist, and the show window's custom views on their own.
class TestShowViews : public QObject
{
    Q_OBJECT

    std::unique_ptr<TempHome> m_home;

private slots:
    void initTestCase() { setUpWindowTestProcess(m_home); }
    void init() { QSettings().clear(); }

    // The entry lands where the drop line is shown, dropped through the model or at a
    // point of the viewport; the whole setlist goes to Live, then the moved entry's position.
    void moveDraggedRow_data()
    {
        QTest::addColumn<QString>("at"); // "model", or where the viewport is hit
        QTest::addColumn<int>("preselected");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("dropRow");
        QTest::addColumn<QString>("after"); // one letter per entry
        QTest::addColumn<int>("selected");  // -1: none, nothing sent
        QTest::newRow("down to the line above D") << "model" << -1 << 0 << 3 << "BCAD" << 2;
        QTest::newRow("down to the end") << "model" << -1 << 0 << 4 << "BCDA" << 3;
        QTest::newRow("down one past itself") << "model" << -1 << 1 << 3 << "ACBD" << 2;
        QTest::newRow("up to the top") << "model" << -1 << 3 << 0 << "DABC" << 0;
        QTest::newRow("up into the middle") << "model" << -1 << 3 << 1 << "ADBC" << 1;
        QTest::newRow("beyond the end clamps") << "model" << -1 << 0 << 9 << "BCDA" << 3;
        QTest::newRow("own line, nothing selected") << "model" << -1 << 1 << 1 << "ABCD" << -1;
        QTest::newRow("own line below, selection resent") << "model" << 2 << 1 << 2 << "ABCD" << 2;
        QTest::newRow("top of D") << "row top" << 0 << 0 << 3 << "BCAD" << 2;
        QTest::newRow("lower half of B") << "row bottom" << 3 << 3 << 2 << "ABDC" << 2;
        QTest::newRow("below the rows") << "below rows" << 1 << 1 << 4 << "ACDB" << 3;
    }
    void moveDraggedRow()
    {
        QFETCH(QString, at);
        QFETCH(int, preselected);
        QFETCH(int, from);
        QFETCH(int, dropRow);
        QFETCH(QString, after);
        QFETCH(int, selected);
        ShowWindowFixture f;
        f.load({}, letters("ABCD"));
        f.window->resize(1000, 900);
        f.show();
        if (preselected >= 0)
            f.poolPane->selectSetlistRow(preselected);
        const auto data = dragFrom(f.setList->model(), from);
        if (at == "model") {
            QVERIFY(dropOnModel(f, *data, dropRow));
        } else {
            // A drag starts with a press on the row, here the selected one: the user's flag
            // is up, yet the drop must send the new order before any position.
            f.clickRow(f.setList, from);
            const QRect r = f.setList->visualRect(
                f.setList->model()->index(at == "row top" ? dropRow : dropRow - 1, 0));
            const int y = at == "row top"      ? r.top() + 3
                          : at == "row bottom" ? r.bottom() - 3
                                               : r.bottom() + 20;
            QVERIFY(dropOnViewport(f.setList, *data, QPoint(r.center().x(), y)));
        }
        QCOMPARE(names(f.songs.setListData()), letters(after));
        QCOMPARE(f.setList->selectedRow(), selected);
        QCOMPARE(f.sender.types(), selected < 0 ? QList<int>() : QList<int>({4, 3}));
        if (selected < 0)
            return;
        QCOMPARE(f.songs.selectedSetlistIndex(), selected);
        QCOMPARE(names(f.sender.setlists.first()), letters(after));
        QCOMPARE(f.sender.messages.last(), selectIndex(selected));
        QCOMPARE(f.setlistCell(selected), after.at(selected));
    }

    // Setlist 1 A, 2 B, 3 A; pool holds 10 Blue Hour, 11 Copper Sky. The private row
    // comes from the model (own), from another running copy (foreign) or not at all.
    void dropGoesByRowOrName_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("dropRow");
        QTest::addColumn<int>("row"); // 0: none, 1: own, 2: foreign
        QTest::addColumn<QList<quint64>>("after");
        QTest::addColumn<QString>("search");
        using I = QList<quint64>;
        // Two entries with one name: the dragged one moves, not the first of that name.
        QTest::newRow("own row of a duplicate name") << "A" << 0 << 1 << I{3, 1, 2} << "";
        QTest::newRow("foreign row goes by name") << "A" << 3 << 2 << I{2, 3, 1} << "";
        QTest::newRow("setlist name: first moves") << "A" << 3 << 0 << I{2, 3, 1} << "";
        QTest::newRow("pool song: at the line") << "Copper Sky" << 1 << 0 << I{1, 11, 2, 3} << "";
        QTest::newRow("pool song past the end") << "Blue Hour" << 50 << 0 << I{1, 2, 3, 10} << "";
        QTest::newRow("names nothing") << "Nobody" << 0 << 0 << I{1, 2, 3} << "";
        QTest::newRow("hidden by the search") << "Copper Sky" << 0 << 0 << I{1, 2, 3} << "blue";
        QTest::newRow("case must match") << "copper sky" << 0 << 0 << I{1, 2, 3} << "";
    }
    void dropGoesByRowOrName()
    {
        QFETCH(QString, text);
        QFETCH(int, dropRow);
        QFETCH(int, row);
        QFETCH(QList<quint64>, after);
        QFETCH(QString, search);
        ShowWindowFixture f;
        f.songs.replaceSongPool({song(10, "Blue Hour"), song(11, "Copper Sky")});
        f.songs.replaceSetlist(QList<Song>{song(1, "A"), song(2, "B"), song(3, "A")});
        f.poolPane->searchFieldIsChanged(search);
        auto data = row == 1 ? dragFrom(f.setList->model(), 2) : std::make_unique<QMimeData>();
        data->setText(text);
        if (row == 2)
            data->setData(SongTableModel::setlistRowMimeType,
                          QByteArray::number(QCoreApplication::applicationPid() + 1) + " 2");
        QVERIFY(dropOnModel(f, *data, dropRow));
        QList<quint64> ids;
        for (const Song &s : f.songs.setListData())
            ids.append(s.id);
        QCOMPARE(ids, after);
        QCOMPARE(f.setList->model()->rowCount(), after.size());
    }

    // The pool is a drag source carrying only the name, never a target; a drop without
    // a name is refused. Setlist rows are dragged but never dropped onto: drops land on
    // the line between them.
    void poolIsOnlyASource()
    {
        ShowWindowFixture f;
        f.load({"Blue Hour", "Copper Sky"}, {"Blue Hour"});
        f.window->resize(1000, 900);
        f.show();
        QAbstractItemModel *pool = f.pool->model();
        const auto data = dragFrom(pool, 1);
        QVERIFY(!data->hasFormat(SongTableModel::setlistRowMimeType));
        QVERIFY(!pool->canDropMimeData(data.get(), Qt::MoveAction, 0, 0, {}));
        const QRect r = f.setList->visualRect(f.setList->model()->index(0, 0));
        QVERIFY(dropOnViewport(f.setList, *data, QPoint(r.center().x(), r.bottom() - 2)));
        QCOMPARE(names(f.songs.setListData()), (QStringList{"Blue Hour", "Copper Sky"}));
        QCOMPARE(f.setList->selectedRow(), 1);
        const QRect p = f.pool->visualRect(pool->index(0, 0));
        QVERIFY(!dropOnViewport(f.pool, *dragFrom(f.setList->model(), 0), p.center()));
        QMimeData noText;
        noText.setData(QStringLiteral("application/octet-stream"), "Blue Hour");
        QVERIFY(!f.setlistPane->acceptDrop(noText, 0));
        QVERIFY(!f.setList->model()->dropMimeData(&noText, Qt::MoveAction, 0, 0, {}));
        QCOMPARE(f.songs.setListData().size(), 2);
        const Qt::ItemFlags rowFlags = f.setList->model()->flags(f.setList->model()->index(0, 0));
        QVERIFY((rowFlags & Qt::ItemIsDragEnabled) && !(rowFlags & Qt::ItemIsDropEnabled));
    }

    // White spaced titles on black; cell text two points lower; the background box
    // repaints on a property change, its triangle darkening the upper-left half only.
    void customPainting()
    {
        CustomHeaderView header;
        QCOMPARE(header.title(), QStringLiteral("S O N G P O O L"));
        header.setIsSetList(true);
        QCOMPARE(header.title(), QStringLiteral("S E T L I S T"));
        QStandardItemModel model(1, 1);
        header.setModel(&model);
        header.resize(300, 30);
        const QImage image = header.grab().toImage();
        QCOMPARE(QColor(image.pixel(2, 2)), QColor(Qt::black));
        int white = 0;
        for (int x = 0; x < image.width(); ++x)
            white += QColor(image.pixel(x, image.height() / 2)).lightness() > 200;
        QVERIFY(white > 0);
        QCOMPARE(TopPaddedTextFieldCell::drawingRectForBounds(QRect(10, 20, 100, 30)),
                 QRect(10, 22, 100, 30));

        BackgroundColorBox box;
        box.resize(200, 100);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        PaintCounter counter;
        box.installEventFilter(&counter);
        QCoreApplication::processEvents();
        const int before = counter.paints;
        box.setProperty("triangleAlpha", 0.0);
        QTRY_VERIFY(counter.paints > before);
        const int afterTriangle = counter.paints;
        box.setBackgroundAlpha(0.5);
        QTRY_VERIFY(counter.paints > afterTriangle);
        const QImage plain = box.grab().toImage();
        QCOMPARE(plain.pixelColor(10, 5), plain.pixelColor(190, 95));
        box.setTriangleAlpha(1.0);
        const QImage withTriangle = box.grab().toImage();
        QVERIFY(withTriangle.pixelColor(10, 5).lightness() < plain.pixelColor(10, 5).lightness());
        QCOMPARE(withTriangle.pixelColor(190, 95), plain.pixelColor(190, 95));
    }
};

QTEST_MAIN(TestShowViews)
#include "tst_showviews.moc"
