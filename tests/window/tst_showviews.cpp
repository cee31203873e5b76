// SPDX-License-Identifier: MIT
#include "backgroundcolorbox.h"
#include "customheaderview.h"
#include "pressbutton.h"
#include "toppaddedtextfieldcell.h"
#include "windowfixture.h"

#include <QSignalSpy>
#include <QStandardItemModel>

namespace {

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

template <class W> void showAndWait(W &widget, int width, int height)
{
    widget.resize(width, height);
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
}

} // namespace

class TestShowViews : public QObject
{
    Q_OBJECT

private slots:
    // Fires on press, once; held down no repeat; released outside nothing cancelled.
    void pressButtonFiresOncePerPress()
    {
        PressButton button;
        showAndWait(button, 80, 80);
        QSignalSpy fired(&button, &QAbstractButton::clicked);
        QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(40, 40));
        QCOMPARE(fired.count(), 1);
        QVERIFY(button.isDown());
        QTRY_VERIFY(!button.isDown()); // the highlight goes after a moment
        QTest::mouseMove(&button, QPoint(200, 200));
        QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(200, 200));
        QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(40, 40));
        QTest::mouseClick(&button, Qt::RightButton, {}, QPoint(40, 40));
        QCOMPARE(fired.count(), 2);
    }

    // An empty table swallows a click: nothing to select, nothing the user's. After
    // entries vanish the row number stays, so the refresh can see it is past the end;
    // reloads are not selection changes.
    void tableSelection()
    {
        RecordingSender sender;
        SongManager songs(sender);
        SongTableModel model(songs, SongTableModel::Kind::Setlist);
        StageRunTableView table;
        table.setModel(&model);
        showAndWait(table, 300, 300);
        QSignalSpy mouseDowns(&table, &StageRunTableView::userMouseDown);
        QSignalSpy changes(&table, &StageRunTableView::selectionDidChange);
        QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, QPoint(50, 20));
        QCOMPARE(mouseDowns.count(), 0);
        songs.replaceSetlist(songsNamed(letters("ABC")));
        table.reloadData();
        QTest::mouseClick(table.viewport(), Qt::LeftButton, {},
                          table.visualRect(model.index(2, 0)).center());
        QCOMPARE(mouseDowns.count(), 1);
        QCOMPARE(table.selectedRow(), 2);
        songs.replaceSetlist(songsNamed(letters("A")));
        table.reloadData();
        QCOMPARE(table.selectedRow(), 2);
        QCOMPARE(table.selectionModel()->selectedRows().size(), 0);
        table.selectRow(0);
        table.deselectAll();
        QCOMPARE(table.selectedRow(), -1);
        QCOMPARE(changes.count(), 3);
    }

    // White spaced titles on black; cell text two points lower.
    void headerAndCells()
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
    }

    // A property change repaints; the triangle darkens the upper-left half only.
    void backgroundBoxRepaintsAndDraws()
    {
        BackgroundColorBox box;
        showAndWait(box, 200, 100);
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
