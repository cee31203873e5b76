// SPDX-License-Identifier: MIT
#include "livebytes.h"
#include "log.h"
#include "scriptedliveserver.h"
#include "socketclient.h"
#include "songposition.h"
#include "songprogresspanel.h"
#include "transportmappings.h"
#include "windowfixture.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>

class TestShowWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<TempHome> m_home;

private slots:
    void initTestCase() { setUpWindowTestProcess(m_home); }
    void init() { QSettings().clear(); }

    // The setlist changes under the selection (Live sends another, or the user removes
    // the selected entry): the selection stays in range and Live hears only a new position.
    void setlistChangeKeepsTheSelectionInRange_data()
    {
        QTest::addColumn<QString>("setlist"); // one letter per entry
        QTest::addColumn<int>("selected");    // -1: none
        QTest::addColumn<QString>("change");  // Live's new setlist, "none"; "rm": the user removes
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("after");
        QTest::addColumn<QList<int>>("types"); // message types sent, in order
        QTest::addColumn<int>("position");     // the last one sent, -1: none
        QTest::addColumn<QString>("setTime");
        using T = QList<int>;
        QTest::newRow("no setlist") << "" << -1 << "none" << -1 << "" << T() << -1 << "00:00:00";
        QTest::newRow("setlist gone") << "AB" << 1 << "none" << -1 << "" << T() << -1 << "00:00:00";
        QTest::newRow("first sent") << "" << -1 << "ABC" << -1 << "ABC" << T{3} << 0 << "00:09:00";
        QTest::newRow("past the end") << "ABC" << 2 << "AB" << 1 << "AB" << T() << -1 << "00:06:00";
        QTest::newRow("rm last") << "ABC" << 2 << "rm" << 1 << "AB" << T{4, 3} << 1 << "00:03:00";
        QTest::newRow("rm middle") << "ABC" << 1 << "rm" << 1 << "AC" << T{4, 3} << 1 << "00:03:00";
        QTest::newRow("rm first") << "ABC" << 0 << "rm" << 0 << "BC" << T{4, 3} << 0 << "00:06:00";
        QTest::newRow("rm only") << "A" << 0 << "rm" << -1 << "" << T{4} << -1 << "00:00:00";
        QTest::newRow("rm none") << "AB" << -1 << "rm" << -1 << "AB" << T() << -1 << "00:06:00";
    }

    void setlistChangeKeepsTheSelectionInRange()
    {
        QFETCH(QString, setlist);
        QFETCH(int, selected);
        QFETCH(QString, change);
        QFETCH(int, row);
        QFETCH(QString, after);
        QFETCH(QList<int>, types);
        QFETCH(int, position);
        QFETCH(QString, setTime);
        ShowWindowFixture f;
        f.load({"A", "B"}, letters(setlist));
        if (selected >= 0)
            f.poolPane->selectSetlistRow(selected);
        if (change == "rm")
            f.setlistPane->removeFromSetlistButtonPressed();
        else if (change == "none")
            f.songs.replaceSetlist(std::nullopt);
        else
            f.songs.replaceSetlist(songsNamed(letters(change)));
        QCOMPARE(names(f.songs.setListData()), letters(after));
        QCOMPARE(f.setList->model()->rowCount(), after.size());
        QCOMPARE(f.setList->selectedRow(), row);
        QCOMPARE(f.sender.types(), types);
        if (position >= 0)
            QCOMPARE(f.sender.messages.last(), selectIndex(position));
        if (types.contains(4))
            QCOMPARE(names(f.sender.setlists.value(0)), letters(after));
        QCOMPARE(f.setlistPane->setTimeDisplayField()->text(), setTime);
    }

    // Live's positions are shown, not sent back, and its setlist with old names shows the
    // pool's. A click that changes the selection is sent once. A click that leaves it as
    // it was keeps the user flag, so the next position from Live is sent back once.
    // Arrow keys count as the user's; other keys and a click on an empty setlist not.
    void selectionEchoRule()
    {
        ShowWindowFixture f;
        f.show();
        QTest::mouseClick(f.setList->viewport(), Qt::LeftButton);
        QVERIFY(!f.setlistPane->isUserSelectionChange());
        f.load(letters("ABC"), letters("ABC"));
        f.poolPane->selectSetlistRow(1);
        f.poolPane->selectSetlistRow(-1); // positions Live cannot mean change nothing
        f.poolPane->selectSetlistRow(3);
        QList<Song> renamed = f.songs.songPoolData();
        renamed[1].name = QStringLiteral("B (live edit)");
        f.songs.replaceSongPool(renamed);
        f.songs.replaceSetlist(f.songs.setListData());
        QCOMPARE(f.setlistCell(1), QStringLiteral("B (live edit)"));
        QCOMPARE(f.setList->selectedRow(), 1);
        QCOMPARE(f.songs.selectedSetlistIndex(), 1);
        QCOMPARE(f.setlistPane->setTimeDisplayField()->text(), QStringLiteral("00:06:00"));
        QVERIFY(f.sender.messages.isEmpty());

        f.clickRow(f.setList, 2);
        QCOMPARE(f.sender.messages, QList<QByteArray>{selectIndex(2)});
        QCOMPARE(f.songs.selectedSetlistIndex(), 2);
        QCOMPARE(f.setlistPane->setTimeDisplayField()->text(), QStringLiteral("00:03:00"));
        f.poolPane->selectSetlistRow(1);
        QCOMPARE(f.sender.messages.size(), 1);

        f.clickRow(f.setList, 1);
        QCOMPARE(f.sender.messages.size(), 1);
        f.poolPane->selectSetlistRow(2);
        QCOMPARE(f.sender.messages.last(), selectIndex(2));
        f.poolPane->selectSetlistRow(0);
        QCOMPARE(f.sender.messages.size(), 2);

        f.sender.clear();
        QTest::keyClick(f.setList, Qt::Key_Down);
        QTest::keyClick(f.setList, Qt::Key_Up);
        QCOMPARE(f.sender.messages, (QList<QByteArray>{selectIndex(1), selectIndex(0)}));
        QTest::keyClick(f.setList, Qt::Key_Right);
        QTest::keyClick(f.setList, Qt::Key_X);
        f.poolPane->selectSetlistRow(2);
        QCOMPARE(f.sender.messages.size(), 2);
    }

    // Only the left button selects; every key that moves the highlight takes the arrows'
    // road, so the setlist's highlight and Live's position never part; Tab moves nothing.
    void selectingInputs_data()
    {
        QTest::addColumn<bool>("setlist");
        QTest::addColumn<int>("input"); // a key, else a mouse button clicked and double-clicked
        QTest::addColumn<int>("moves"); // -1 up, 0 not, 1 down; +-2 to the last or first row
        const std::tuple<const char *, int, int> inputs[] = {{"right click", Qt::RightButton, 0},
                                                             {"middle click", Qt::MiddleButton, 0},
                                                             {"PageUp", Qt::Key_PageUp, -1},
                                                             {"PageDown", Qt::Key_PageDown, 1},
                                                             {"Home", Qt::Key_Home, -2},
                                                             {"End", Qt::Key_End, 2},
                                                             {"Tab", Qt::Key_Tab, 0}};
        for (const bool setlist : {true, false})
            for (const auto &[name, input, moves] : inputs)
                QTest::addRow("%s, %s", setlist ? "setlist" : "pool", name)
                    << setlist << input << moves;
    }
    void selectingInputs()
    {
        QFETCH(bool, setlist);
        QFETCH(int, input);
        QFETCH(int, moves);
        ShowWindowFixture f;
        const QStringList songs = letters(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcd"));
        f.load(songs, songs);
        f.show();
        f.poolPane->selectSetlistRow(10);
        f.pool->selectRow(10);
        StageRunTableView *table = setlist ? f.setList : f.pool;
        table->setFocus();
        f.sender.clear();
        if (input > int(Qt::MiddleButton)) {
            QTest::keyClick(table, Qt::Key(input));
        } else {
            const QPoint at = table->visualRect(table->model()->index(12, 0)).center();
            QTest::mouseClick(table->viewport(), Qt::MouseButton(input), {}, at);
            QTest::mouseDClick(table->viewport(), Qt::MouseButton(input), {}, at);
        }
        const int row = table->selectedRow();
        QCOMPARE((row > 10) - (row < 10), (moves > 0) - (moves < 0));
        if (std::abs(moves) == 2)
            QCOMPARE(row, moves > 0 ? 29 : 0);
        QCOMPARE(f.sender.messages,
                 setlist && moves ? QList<QByteArray>{selectIndex(row)} : QList<QByteArray>{});
        QCOMPARE(f.songs.selectedSetlistIndex(), f.setList->selectedRow());
    }

    // A wrapped one-byte position would move Live to the wrong song.
    void positionAbove255StaysLocal()
    {
        ShowWindowFixture f;
        f.load({}, letters(QString(300, 'S')));
        f.show();
        f.poolPane->selectSetlistRow(0);
        f.setList->scrollTo(f.setList->model()->index(280, 0));
        mlog::Capture log; // the recording sender, like the socket, drops such an index itself
        f.clickRow(f.setList, 280);
        QCOMPARE(f.songs.selectedSetlistIndex(), 280);
        QVERIFY(f.sender.messages.isEmpty());
        QVERIFY(log.contains("Setlist position 280 cannot be sent to Live (0 to 255); the "
                             "selection stays local."));
        QVERIFY(!f.setlistPane->isUserSelectionChange());
        f.setlistPane->removeFromSetlistButtonPressed();
        QCOMPARE(f.sender.types(), QList<int>({4}));
        QCOMPARE(f.setList->selectedRow(), 280);
    }

    // The search ignores case and an empty one shows all; play and add act on the
    // selected row of the filtered pool, and with nothing selected do nothing.
    void poolSearchAndButtons()
    {
        ShowWindowFixture f;
        f.load({"Sunglasses", "Copper Sky", "Glass Harbour", "Blue Hour"}, {}); // ids 100...
        f.show();
        QAbstractButton *play = f.poolPane->songpoolPlayButton();
        f.poolPane->addToSetlistButtonPressed();
        QTest::mouseClick(play, Qt::LeftButton);
        QVERIFY(f.sender.messages.isEmpty());

        auto *search = f.poolPane->findChild<QLineEdit *>(QStringLiteral("searchField"));
        QStringList shown;
        for (const char *query : {"zzz", "", "gLAss"}) {
            search->setText(query);
            shown << names(f.songs.filteredPoolData()).join('+');
            QCOMPARE(f.pool->model()->rowCount(), f.songs.filteredPoolData().size());
        }
        QCOMPARE(shown, (QStringList{"", "Blue Hour+Copper Sky+Glass Harbour+Sunglasses",
                                     "Glass Harbour+Sunglasses"}));
        f.clickRow(f.pool, 1);
        QTest::mousePress(play, Qt::LeftButton);
        QCOMPARE(f.sender.messages,
                 QList<QByteArray>{QByteArray("\x05", 1) + QByteArray(7, '\0') + char(100)});
        f.sender.clear();
        QTest::mouseClick(f.poolPane->findChild<QAbstractButton *>(QStringLiteral("addButton")),
                          Qt::LeftButton);
        QCOMPARE(f.setlistCell(0), QStringLiteral("Sunglasses"));
        QCOMPARE(f.sender.types(), QList<int>({4, 3})); // first song: position 0 too
        QCOMPARE(f.setlistPane->setTimeDisplayField()->text(), QStringLiteral("00:03:00"));
        f.sender.clear();
        f.poolPane->addToSetlistButtonPressed();
        QCOMPARE(f.sender.types(), QList<int>({4}));
    }

    // Each transport button fires once on a left press, its highlight going after a
    // moment; both play buttons show the playing state, and a missing image keeps the one
    // shown. The MIDI button asks for the mapping window; the switch stores the setting,
    // which a window loaded later shows; the bridge button launches the daemon and shows
    // whether it runs; About
    // names the version and Help the support address.
    void paneButtons()
    {
        ShowWindowFixture f;
        f.show();
        QSignalSpy midiRequests(f.setlistPane, &StagerunViewController::midiMapWindowRequested);
        for (const char *name :
             {"setlistPlayButton", "stopButton", "prevButton", "nextButton", "midiMapButton"})
            QTest::mouseClick(f.setlistPane->findChild<QAbstractButton *>(name), Qt::LeftButton);
        QAbstractButton *a = f.setlistPane->setlistPlayButton();
        QTest::mouseClick(a, Qt::RightButton);
        QCOMPARE(f.sender.messages,
                 (QList<QByteArray>{"\x01\x01", "\x01\x02", "\x01\x03", "\x01\x04"}));
        QCOMPARE(midiRequests.count(), 1);
        QTRY_VERIFY(!f.setlistPane->findChild<QAbstractButton *>("nextButton")->isDown());
        QAbstractButton *b = f.poolPane->songpoolPlayButton();
        f.window->updatePlayButton(true);
        QCOMPARE(a->property("imageName").toString() + b->property("imageName").toString(),
                 QStringLiteral("play2play2"));
        QVERIFY(!a->icon().isNull());
        f.window->updatePlayButton(false);
        QCOMPARE(b->property("imageName").toString(), QStringLiteral("play"));
        f.setlistPane->setImageRoot(QStringLiteral(":/nowhere/"));
        f.setlistPane->setPlayButtonImage(true);
        QCOMPARE(a->property("imageName").toString(), QStringLiteral("play"));

        QCheckBox *sw = f.poolPane->autoConnectToDaemonStatus();
        for (const bool on : {true, false}) {
            QTest::mouseClick(sw, Qt::LeftButton, {}, QPoint(10, sw->height() / 2));
            QCOMPARE(QSettings().value(StagerunViewController::autoConnectKey).toBool(), on);
            QCOMPARE(ShowWindowFixture().poolPane->autoConnectToDaemonStatus()->isChecked(), on);
        }
        QCOMPARE(f.launcher.launches, 0);
        QTest::mouseClick(
            f.poolPane->findChild<QAbstractButton *>(QStringLiteral("iosBridgeButton")),
            Qt::LeftButton);
        QCOMPARE(f.launcher.launches, 1);
        QVERIFY(!f.poolPane->showsBridgeRunning());
        f.launcher.running = true; // its lock taken: the button's lamp follows
        QTRY_VERIFY(f.poolPane->showsBridgeRunning());
        QVERIFY(f.poolPane->orderFrontStandardAboutPanel()->text().contains("Version 1.5"));
        QMessageBox *help = f.poolPane->showHelp();
        QCOMPARE(help->text(), QStringLiteral("Marquell Help"));
        QVERIFY(help->informativeText().contains(QLatin1Char('@')));
    }

    // The user's cue mode is sent as mode 1 or 2; Live's mode and tempo and the detector's
    // reports (queued from its delegate, grey until the first) are shown, never sent back;
    // the tempo keeps its decimals.
    void readouts()
    {
        ShowWindowFixture f;
        QComboBox *box = f.poolPane->cueModeComboBoxCell();
        QCOMPARE(box->itemText(0) + "/" + box->itemText(1), QStringLiteral("Jump Now/End of Song"));
        QCOMPARE(box->currentIndex(), 0);
        QTest::keyClick(box, Qt::Key_Down);
        QTest::keyClick(box, Qt::Key_Up);
        QCOMPARE(f.sender.messages, (QList<QByteArray>{"\x07\x02", QByteArray("\x07\x01", 2)}));
        f.sender.clear();
        f.poolPane->showCueMode(2);
        QCOMPARE(box->currentIndex(), 1);
        f.poolPane->showCueMode(0); // no such mode: nothing chosen
        QCOMPARE(box->currentIndex(), -1);
        QStringList shown;
        for (const float bpm : {120.0f, float(12033) / 100.0f, 0.1f, 999.99f}) {
            f.poolPane->showBPM(bpm);
            shown << f.setlistPane->bpmDisplayField()->text();
        }
        QCOMPARE(shown, (QStringList{"120.0", "120.33", "0.1", "999.99"}));

        QCOMPARE(f.setlistPane->statusIndicatorColor(), StagerunViewController::lampGrey);
        ServerDetectorDelegate *d = f.window->delegatePane();
        using C = StagerunViewController;
        const QList<std::tuple<std::function<void()>, QColor, QString>> reports{
            {[d] { d->showServerStatus("Searching on 6000"); }, C::lampOrange, "Searching on 6000"},
            {[d] { d->showWaitingForValidation(); }, C::lampBlue, "Waiting for Validation"},
            {[d] { d->showConnected(); }, C::lampGreen, "Connected to Live"},
            {[d] { d->showConnectionFailed({}); }, C::lampRed, "Connection failed. Retrying..."},
            {[d] { d->showConnectionFailed("Refused"); }, C::lampRed, "Connection failed: Refused"},
        };
        for (const auto &[report, lamp, text] : reports) {
            report();
            QTRY_COMPARE(f.setlistPane->serverStatusTextField()->text(), text);
            QCOMPARE(f.setlistPane->statusIndicatorColor(), lamp);
            QVERIFY(f.setlistPane->statusIndicatorButton()->styleSheet().contains(lamp.name()));
        }
        QVERIFY(f.sender.messages.isEmpty());
    }

    // Over a real connection the window subscribes; Live's position, sections and marks
    // show (checked on the drawn window), section buttons and the row's "stop after" send
    // their messages. An older script that answers none of it leaves the window exactly as
    // a window without any of this looks.
    void songProgressOverTheLink_data()
    {
        QTest::addColumn<bool>("subscriber");
        QTest::newRow("script that reports positions") << true;
        QTest::newRow("older script") << false;
    }
    void songProgressOverTheLink()
    {
        QFETCH(bool, subscriber);
        using namespace livebytes;
        const quint64 a = 0x8000000000000001ULL, b = 2;
        const QByteArray songs = livebytes::song(a, "Alpha", "4:00") +
                                 livebytes::song(b, "Bravo Bravo Bravo Bravo", "12:34");
        QByteArray greeting =
            frame(livelink::kServerIdentity) + frame(bytes({3}) + songs + bytes({4}) + songs);
        if (subscriber)
            greeting += frame(bytes({12, 0, 2, 0, 1})) +
                        frame(bytes({11}) + u64(a) + bytes({3}) + u32(0) + u32(60000) +
                              text("Intro") + u32(60000) + u32(90000) + text("Verse") +
                              u32(150000) + u32(90000) + text("Chorus")) +
                        frame(bytes({10}) + u64(a) + u32(90000) + u32(240000) + bytes({1, 7, 2}));
        ScriptedLiveServer server;
        server.setGreeting(greeting);
        TransportMappings mappings;
        SocketClient client{mappings};
        SongManager manager{client};
        SongPositionModel position;
        client.setSongManager(&manager);
        client.setSongPosition(&position);
        CountingLauncher launcher;
        ShowWindowServices services{manager, client, launcher, &position};
        const auto window = createShowWindow(services);
        window->resize(1100, 760);
        StagerunViewController *pane = window->setlistPane();
        auto *panel = pane->findChild<SongProgressPanel *>(QStringLiteral("songProgressPanel"));
        client.connectToServer(QStringLiteral("127.0.0.1"), server.port());
        const QByteArray hello = QByteArray(livelink::kClientIdentity) + bytes({10, 1, 3, 0});
        QTRY_COMPARE(server.received(), hello);
        server.takeReceived();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));

        if (!subscriber) {
            ShowWindowServices plain{manager, client, launcher};
            const auto today = createShowWindow(plain);
            today->resize(window->size());
            today->show();
            QVERIFY(QTest::qWaitForWindowExposed(today.get()));
            QVERIFY(panel->isHidden());
            QCOMPARE(window->grab().toImage(), today->grab().toImage());
            return;
        }
        QTRY_COMPARE(panel->sectionButtons().size(), 3);
        QVERIFY(panel->isVisible() && panel->stopNote()->isVisible());
        const QString left = pane->findChild<QLabel *>("songTimeDisplayField")->text();
        QVERIFY2(left == "2:30" || left == "2:29", qPrintable(left));
        QList<QPushButton *> buttons = panel->sectionButtons();
        QCOMPARE(buttons[1]->property("playing").toBool(), true);
        QCOMPARE(buttons[2]->property("pending").toBool(), true);
        QAbstractItemModel *rows = pane->setList()->model();
        QCOMPARE(rows->index(1, 0).data(SongTableModel::LengthRole).toString(), "12:34");
        QCOMPARE(rows->index(1, 0).data(SongTableModel::MarksRole).toInt(), 1);

        // The drawn window: the bar filled at a fifth, empty at four fifths, the playing
        // section blue, the pending one edged in orange, the marked row's red square.
        const QImage shot = window->grab().toImage();
        if (qEnvironmentVariableIsSet("MARQUELL_WINDOW_SHOT"))
            shot.save(qEnvironmentVariable("MARQUELL_WINDOW_SHOT"));
        const auto pixel = [&](QWidget *w, int x, int y) {
            return QColor(shot.pixel(w->mapTo(window.get(), QPoint(x, y))));
        };
        QWidget *bar = panel->progressBar();
        QCOMPARE(pixel(bar, bar->width() / 5, 9), QColor(0x0a, 0x84, 0xff));
        QCOMPARE(pixel(bar, bar->width() * 4 / 5, 9), QColor(0x2c, 0x2c, 0x2e));
        QCOMPARE(pixel(buttons[1], 12, buttons[1]->height() - 5), QColor(0x0a, 0x84, 0xff));
        QCOMPARE(pixel(buttons[2], buttons[2]->width() / 2, 1), QColor(0xff, 0x95, 0x00));
        const QRect marked = pane->setList()->visualRect(rows->index(1, 0));
        int red = 0;
        for (int x = marked.left(); x < marked.right(); ++x)
            red += pixel(pane->setList()->viewport(), x, marked.center().y()) ==
                   QColor(0xff, 0x45, 0x3a);
        QVERIFY(red > 5);
        // A pool name too long for its row ends before the length: no ink in the gap.
        StageRunTableView *pool = window->songPoolPane()->songPool();
        const QRect row = pool->visualRect(pool->model()->index(1, 0));
        const int gapEnd = row.right() - 14 - pool->fontMetrics().horizontalAdvance("12:34");
        int ink = 0;
        for (int x = gapEnd - 10; x < gapEnd - 2; ++x)
            for (int y = row.top() + 4; y < row.bottom() - 4; ++y)
                ink += pixel(pool->viewport(), x, y).lightness() > 128;
        QCOMPARE(ink, 0);

        QTest::mouseClick(buttons[2], Qt::LeftButton);
        pane->setlistContextMenu(1)->actions().first()->trigger(); // marked: clears
        pane->setList()->selectRow(0);
        pane->setList()->findChild<QAction *>("stopAfterAction")->trigger();
        QTRY_COMPARE(server.received(), bytes({11}) + u64(a) + bytes({2, 12}) + u64(b) +
                                            bytes({0, 12}) + u64(a) + bytes({1}));
        server.closeClients(); // the next connection may be to an older script
        QTRY_VERIFY(panel->isHidden());
        QVERIFY(!rows->index(1, 0).data(SongTableModel::MarksRole).toInt());
    }

    // Panes collapse only through the toggle, never by dragging the divider. Collapsing
    // gives the pool's room back; a new frame origin moves the window up or down only;
    // the next window comes back with the same geometry and the pool still collapsed.
    void panelToggleAndGeometryAreRemembered()
    {
        QRect geometry;
        {
            ShowWindowFixture f;
            f.window->resize(1100, 700);
            f.show();
            auto *split = f.window->findChild<QSplitter *>();
            QVERIFY(!split->isCollapsible(0) && !split->isCollapsible(1));
            split->setSizes({400, 700}); // not the pool's own width
            const int before = f.window->width();
            const int setlistWidth = f.setlistPane->width();
            f.setlistPane->panelToggler();
            QVERIFY(f.poolPane->isHidden());
            QCOMPARE(f.window->width(), setlistWidth);
            f.poolPane->panelToggler();
            QCOMPARE(f.window->width(), before);
            f.window->resize(720, 520);
            f.window->move(40, 30);
            f.window->setFrameOrigin(QPoint(340, 60));
            QTRY_COMPARE(f.window->pos(), QPoint(40, 60));
            f.setlistPane->panelToggler();
            QTRY_VERIFY(f.poolPane->isHidden());
            geometry = f.window->geometry();
            f.window->close();
        }
        ShowWindowFixture again;
        QVERIFY(again.poolPane->isHidden());
        again.show();
        QCOMPARE(again.window->geometry(), geometry);
    }
};

QTEST_MAIN(TestShowWindow)
#include "tst_showwindow.moc"
