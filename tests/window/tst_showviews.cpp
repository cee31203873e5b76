// SPDX-License-Identifier: MIT
#include "backgroundcolorbox.h"
#include "customheaderview.h"
#include "pressbutton.h"
#include "stagerunmainwindow.h"
#include "stagerunsplitview.h"
#include "stagerunsvcontroller.h"
#include "toppaddedtextfieldcell.h"
#include "windowfixture.h"

#include <QAbstractItemModelTester>
#include <QPainter>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QtTest>

namespace {

// Counts paint events, to see that a property change repaints.
class PaintCounter final : public QObject
{
public:
    int paints = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

} // namespace

class TestShowViews : public QObject
{
    Q_OBJECT

private slots:
    // --- PressButton ---------------------------------------------------------------

    void pressButtonFiresOncePerPress()
    {
        PressButton button;
        button.resize(80, 80);
        button.show();
        QVERIFY(QTest::qWaitForWindowExposed(&button));
        QSignalSpy fired(&button, &QAbstractButton::clicked);

        QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(40, 40));
        QCOMPARE(fired.count(), 1); // on press, not on release
        QVERIFY(button.isDown());
        QTRY_VERIFY(!button.isDown()); // the highlight goes after a moment
        // Held down: no repeat. Released outside: nothing cancelled, nothing added.
        QTest::qWait(3 * PressButton::highlightMs);
        QTest::mouseMove(&button, QPoint(200, 200));
        QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(200, 200));
        QCOMPARE(fired.count(), 1);

        QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(40, 40));
        QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(40, 40));
        QCOMPARE(fired.count(), 2);
        QTest::mouseClick(&button, Qt::RightButton, {}, QPoint(40, 40));
        QCOMPARE(fired.count(), 2);
    }

    // --- StageRunTableView ---------------------------------------------------------

    void emptyTableSwallowsClick()
    {
        RecordingSender sender;
        SongManager songs(sender);
        SongTableModel model(songs, SongTableModel::Kind::Setlist);
        StageRunTableView table;
        table.setModel(&model);
        table.resize(300, 300);
        table.show();
        QVERIFY(QTest::qWaitForWindowExposed(&table));
        QSignalSpy mouseDowns(&table, &StageRunTableView::userMouseDown);
        QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, QPoint(50, 20));
        QCOMPARE(mouseDowns.count(), 0);

        songs.replaceSetlist(songsNamed({"A", "B", "C"}));
        table.reloadData();
        QSignalSpy changes(&table, &StageRunTableView::selectionDidChange);
        QTest::mouseClick(table.viewport(), Qt::LeftButton, {},
                          table.visualRect(model.index(1, 0)).center());
        QCOMPARE(mouseDowns.count(), 1);
        QCOMPARE(changes.count(), 1);
        QCOMPARE(table.selectedRow(), 1);
    }

    // After entries vanish the row number stays, so the refresh can see it is past the end.
    void reloadKeepsTheSelectedRowNumber()
    {
        RecordingSender sender;
        SongManager songs(sender);
        songs.replaceSetlist(songsNamed({"A", "B", "C"}));
        SongTableModel model(songs, SongTableModel::Kind::Setlist);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        StageRunTableView table;
        table.setModel(&model);
        QSignalSpy changes(&table, &StageRunTableView::selectionDidChange);
        table.selectRow(2);
        QCOMPARE(changes.count(), 1);
        table.reloadData();
        QCOMPARE(table.selectedRow(), 2);
        QCOMPARE(table.selectionModel()->selectedRows().size(), 1);
        songs.replaceSetlist(QList<Song>{songsNamed({"A", "B", "C"}).first()});
        table.reloadData();
        QCOMPARE(table.selectedRow(), 2);
        QCOMPARE(table.selectionModel()->selectedRows().size(), 0);
        QCOMPARE(changes.count(), 1); // reloads are not selection changes
        table.selectRow(0);
        QCOMPARE(table.selectedRow(), 0);
        table.deselectAll();
        QCOMPARE(table.selectedRow(), -1);
        QCOMPARE(changes.count(), 3);
    }

    // --- headers, cells, boxes -----------------------------------------------------

    void headerTitles()
    {
        CustomHeaderView header;
        QVERIFY(!header.isSetList());
        QCOMPARE(header.title(), QStringLiteral("S O N G P O O L"));
        header.setIsSetList(true);
        QCOMPARE(header.title(), QStringLiteral("S E T L I S T"));
        QCOMPARE(CustomHeaderView::titleFont().pointSize(), 14);

        // Drawn white on black.
        QStandardItemModel model(1, 1);
        header.setModel(&model);
        header.resize(300, 30);
        const QImage image = header.grab().toImage();
        QCOMPARE(QColor(image.pixel(2, 2)), QColor(Qt::black));
        bool white = false;
        for (int x = 0; x < image.width() && !white; ++x)
            white = QColor(image.pixel(x, image.height() / 2)).lightness() > 200;
        QVERIFY(white);
    }

    void cellTextSitsTwoPointsLower()
    {
        const QRect bounds(10, 20, 100, 30);
        QCOMPARE(TopPaddedTextFieldCell::drawingRectForBounds(bounds), QRect(10, 22, 100, 30));
    }

    void backgroundBoxRepaintsAndDraws()
    {
        BackgroundColorBox box;
        QCOMPARE(box.backgroundAlpha(), 0.9);
        QCOMPARE(box.triangleAlpha(), 1.0);
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
        box.setBackgroundAlpha(1.0);
        QTRY_VERIFY(counter.paints > afterTriangle);

        // Without the triangle both halves look alike; with it the upper-left half is
        // darker and the far lower-right corner is untouched.
        box.setBackgroundAlpha(0.5);
        const QImage plain = box.grab().toImage();
        QCOMPARE(plain.pixelColor(10, 5), plain.pixelColor(190, 95));
        box.setTriangleAlpha(1.0);
        const QImage withTriangle = box.grab().toImage();
        QVERIFY(withTriangle.pixelColor(10, 5).lightness() < plain.pixelColor(10, 5).lightness());
        QCOMPARE(withTriangle.pixelColor(190, 95), plain.pixelColor(190, 95));
        QCOMPARE(box.triangle(), QPolygonF({QPointF(0, 0), QPointF(200, 0), QPointF(0, 100)}));
    }

    // --- split, window -------------------------------------------------------------

    void panesCannotBeDraggedShut()
    {
        StagerunSplitView split;
        QCOMPARE(split.customDividerColor(), QColor(Qt::black));
        auto *a = new StagerunViewController;
        auto *b = new StagerunViewController;
        split.addWidget(a);
        split.addWidget(b);
        StageRunSVController sv(&split);
        QCOMPARE(split.svController(), &sv);
        QVERIFY(!split.isCollapsible(0));
        QVERIFY(!split.isCollapsible(1));
        QCOMPARE(sv.paneController(0), a);
        QCOMPARE(sv.paneController(1), b);
        QCOMPARE(sv.paneController(2), nullptr);
        sv.setItemCollapsed(1, true);
        QVERIFY(sv.isItemCollapsed(1));
        sv.setItemCollapsed(1, false);
        QVERIFY(!sv.isItemCollapsed(1));
    }

    void originChangesKeepX()
    {
        StageRunMainWindow window;
        window.resize(400, 300);
        window.move(120, 80);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const int x = window.x();
        window.setFrameOrigin(QPoint(x + 300, 140));
        QTRY_COMPARE(window.y(), 140);
        QCOMPARE(window.x(), x);
    }
};

QTEST_MAIN(TestShowViews)
#include "tst_showviews.moc"
