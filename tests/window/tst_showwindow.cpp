// SPDX-License-Identifier: MIT
#include "log.h"
#include "windowfixture.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSplitter>

class TestShowWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<TempHome> m_home;

private slots:
    void initTestCase() { setUpWindowTestProcess(m_home); }
    void init() { QSettings().clear(); }

    // --- loading -------------------------------------------------------------------

    void loadingFindsEachPanesOutlets()
    {
        mlog::Capture log;
        ShowWindowFixture f;
        // Each pane lacks the other's table and says so once.
        QCOMPARE(log.count(QStringLiteral("setlist tableview is nil")), 1);
        QCOMPARE(log.count(QStringLiteral("song pool tableview is nil")), 1);
        QVERIFY(f.setList && f.pool);
        QVERIFY(!f.setlistPane->songPool() && !f.poolPane->setList());
        QVERIFY(f.setlistPane->bpmDisplayField() && !f.poolPane->bpmDisplayField());
        QVERIFY(f.poolPane->cueModeComboBoxCell() && !f.setlistPane->cueModeComboBoxCell());
        QCOMPARE(f.window->delegatePane(), f.poolPane);
        QVERIFY(f.poolPane->initMode());
        QVERIFY(!f.setlistPane->initMode());
        QCOMPARE(f.poolPane->cueModeComboBoxCell()->currentIndex(), 0);
        QCOMPARE(f.poolPane->cueModeComboBoxCell()->itemText(0), QStringLiteral("Jump Now"));
        QCOMPARE(f.poolPane->cueModeComboBoxCell()->itemText(1), QStringLiteral("End of Song"));
        QCOMPARE(f.setlistPane->statusIndicatorColor(), StagerunViewController::lampGrey);
        QCOMPARE(f.setList->model()->rowCount(), 0);
        QVERIFY(f.sender.messages.isEmpty());
    }

    // --- refresh -------------------------------------------------------------------

    void refreshWithoutSelection_data()
    {
        QTest::addColumn<QStringList>("setlist"); // empty: none
        QTest::addColumn<QList<QByteArray>>("sent");
        QTest::addColumn<QString>("setTime");
        QTest::newRow("no setlist sends nothing")
            << QStringList() << QList<QByteArray>() << "00:00:00";
        QTest::newRow("sends the first position")
            << QStringList{"A", "B", "C"} << QList<QByteArray>{QByteArray("\x03\x00", 2)}
            << "00:09:00";
    }
    void refreshWithoutSelection()
    {
        QFETCH(QStringList, setlist);
        QFETCH(QList<QByteArray>, sent);
        QFETCH(QString, setTime);
        ShowWindowFixture f;
        f.songs.replaceSongPool(songsNamed({"A", "B"}));
        f.songs.replaceSetlist(setlist.isEmpty() ? std::nullopt
                                                 : std::optional<QList<Song>>(songsNamed(setlist)));
        QCOMPARE(f.sender.messages, sent);
        QCOMPARE(f.setList->selectedRow(), -1);
        QCOMPARE(f.setList->model()->rowCount(), setlist.size());
        QCOMPARE(f.setlistPane->setTimeDisplayField()->text(), setTime);
        QCOMPARE(f.pool->model()->rowCount(), 2);
    }

    void refreshWithSelectionBeyondEndSelectsLastRow()
    {
        ShowWindowFixture f;
        f.load({}, {"A", "B", "C"});
        f.poolPane->selectSetlistRow(2);
        f.songs.replaceSetlist(songsNamed({"A", "B"}));
        QCOMPARE(f.setList->selectedRow(), 1);
        QVERIFY(f.sender.messages.isEmpty());
    }

    void refreshKeepsSelectionAndFollowsPoolNames()
    {
        ShowWindowFixture f;
        f.load({"A", "B", "C"}, {"A", "B", "C"});
        f.poolPane->selectSetlistRow(1);
        QList<Song> renamed = f.songs.songPoolData();
        renamed[1].name = QStringLiteral("B (live edit)");
        f.songs.replaceSongPool(renamed);
        f.songs.replaceSetlist(f.songs.setListData()); // as Live sends it: old names
        QCOMPARE(f.setList->selectedRow(), 1);
        QCOMPARE(f.setlistCell(1), QStringLiteral("B (live edit)"));
        QVERIFY(f.sender.messages.isEmpty());
    }

    // --- remove --------------------------------------------------------------------

    void removeReselects_data()
    {
        QTest::addColumn<QStringList>("setlist");
        QTest::addColumn<int>("selected");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<int>("expectedRow"); // -1: nothing selected, no index sent
        QTest::newRow("last of three")
            << QStringList{"A", "B", "C"} << 2 << QStringList{"A", "B"} << 1;
        QTest::newRow("middle") << QStringList{"A", "B", "C"} << 1 << QStringList{"A", "C"} << 1;
        QTest::newRow("first") << QStringList{"A", "B", "C"} << 0 << QStringList{"B", "C"} << 0;
        QTest::newRow("only entry") << QStringList{"A"} << 0 << QStringList{} << -1;
        QTest::newRow("nothing selected")
            << QStringList{"A", "B"} << -1 << QStringList{"A", "B"} << -1;
    }
    void removeReselects()
    {
        QFETCH(QStringList, setlist);
        QFETCH(int, selected);
        QFETCH(QStringList, after);
        QFETCH(int, expectedRow);
        ShowWindowFixture f;
        f.load({}, setlist);
        if (selected >= 0)
            f.poolPane->selectSetlistRow(selected);

        f.setlistPane->removeFromSetlistButtonPressed();
        QCOMPARE(names(f.songs.setListData()), after);
        if (selected < 0) {
            QVERIFY(f.sender.messages.isEmpty());
            return;
        }
        QCOMPARE(f.setList->model()->rowCount(), after.size());
        QCOMPARE(f.setList->selectedRow(), expectedRow);
        QCOMPARE(f.sender.setlists.size(), 1);
        QCOMPARE(names(f.sender.setlists.first()), after);
        if (expectedRow < 0) {
            QCOMPARE(f.sender.types(), QList<int>({4}));
        } else {
            QCOMPARE(f.sender.types(), QList<int>({4, 3}));
            QCOMPARE(quint8(f.sender.messages.last().at(1)), quint8(expectedRow));
        }
        QCOMPARE(f.setlistPane->setTimeDisplayField()->text(),
                 SongManager::formatSetTime(180.0 * (after.size() - qMax(expectedRow, 0))));
    }

    // --- selection -----------------------------------------------------------------

    // Live's positions are shown, not sent back; a click that changes the selection is
    // sent once. A click that leaves it as it was keeps the user flag, so the next
    // position from Live is sent back once.
    void selectionEchoRule()
    {
        ShowWindowFixture f;
        f.load({}, {"A", "B", "C"});
        f.show();
        f.poolPane->selectSetlistRow(1);
        QCOMPARE(f.setList->selectedRow(), 1);
        QCOMPARE(f.songs.selectedSetlistIndex(), 1);
        QCOMPARE(f.setlistPane->setTimeDisplayField()->text(), QStringLiteral("00:06:00"));
        QVERIFY(f.sender.messages.isEmpty());

        f.clickRow(f.setList, 2);
        QCOMPARE(f.sender.messages, QList<QByteArray>({QByteArray("\x03\x02", 2)}));
        QCOMPARE(f.songs.selectedSetlistIndex(), 2);
        QCOMPARE(f.setlistPane->setTimeDisplayField()->text(), QStringLiteral("00:03:00"));
        QVERIFY(!f.setlistPane->isUserSelectionChange());
        f.poolPane->selectSetlistRow(2);
        f.poolPane->selectSetlistRow(1);
        QCOMPARE(f.sender.messages.size(), 1);

        f.clickRow(f.setList, 1);
        QCOMPARE(f.sender.messages.size(), 1);
        QVERIFY(f.setlistPane->isUserSelectionChange());
        f.poolPane->selectSetlistRow(2);
        QCOMPARE(f.sender.messages.last(), QByteArray("\x03\x02", 2));
        f.poolPane->selectSetlistRow(0);
        QCOMPARE(f.sender.messages.size(), 2);
    }

    void invalidPositionFromLiveIsLogged_data()
    {
        QTest::addColumn<int>("index");
        QTest::newRow("negative") << -1;
        QTest::newRow("one past the end") << 3;
        QTest::newRow("far past") << 255;
    }
    void invalidPositionFromLiveIsLogged()
    {
        QFETCH(int, index);
        ShowWindowFixture f;
        f.load({}, {"A", "B", "C"});
        f.poolPane->selectSetlistRow(1);
        mlog::Capture log;
        f.poolPane->selectSetlistRow(index);
        QVERIFY(log.contains(QStringLiteral("Invalid row index: %1").arg(index)));
        QCOMPARE(f.setList->selectedRow(), 1);
        QCOMPARE(f.songs.selectedSetlistIndex(), 1);
    }

    void arrowKeysSendTheNewPosition()
    {
        ShowWindowFixture f;
        f.load({}, {"A", "B", "C"});
        f.show();
        f.poolPane->selectSetlistRow(0);
        QTest::keyClick(f.setList, Qt::Key_Down);
        QCOMPARE(f.setList->selectedRow(), 1);
        QCOMPARE(f.sender.messages, QList<QByteArray>({QByteArray("\x03\x01", 2)}));
        QTest::keyClick(f.setList, Qt::Key_Up);
        QCOMPARE(f.sender.messages.last(), QByteArray("\x03\x00", 2));
        // Other keys do not mark the next change as the user's.
        QTest::keyClick(f.setList, Qt::Key_Left);
        QTest::keyClick(f.setList, Qt::Key_Right);
        QTest::keyClick(f.setList, Qt::Key_X);
        QVERIFY(!f.setlistPane->isUserSelectionChange());
        f.poolPane->selectSetlistRow(2);
        QCOMPARE(f.sender.messages.size(), 2);
    }

    // A wrapped one-byte position would move Live to the wrong song.
    void positionAbove255StaysLocal()
    {
        ShowWindowFixture f;
        QStringList many;
        for (int i = 0; i < 300; ++i)
            many.append(QStringLiteral("Song %1").arg(i));
        f.load({}, many);
        f.show();
        f.poolPane->selectSetlistRow(0);
        mlog::Capture log;
        f.setList->scrollTo(f.setList->model()->index(280, 0));
        f.clickRow(f.setList, 280);
        QCOMPARE(f.setList->selectedRow(), 280);
        QCOMPARE(f.songs.selectedSetlistIndex(), 280);
        QVERIFY(f.sender.messages.isEmpty());
        QVERIFY(log.contains(QStringLiteral(
            "Setlist position 280 cannot be sent to Live (0 to 255); the selection stays local.")));
        QVERIFY(!f.setlistPane->isUserSelectionChange());

        // Removing at a high position reselects locally and sends only the setlist.
        f.sender.clear();
        f.setlistPane->removeFromSetlistButtonPressed();
        QCOMPARE(f.sender.types(), QList<int>({4}));
        QCOMPARE(f.setList->selectedRow(), 280);
    }

    // --- song pool -----------------------------------------------------------------

    void searchIgnoresCase_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("capitals") << "GLASS" << QStringList{"Glass Harbour", "Sunglasses"};
        QTest::newRow("mixed") << "hArB" << QStringList{"Glass Harbour"};
        QTest::newRow("empty shows all")
            << "" << QStringList{"Blue Hour", "Glass Harbour", "Opening Lights", "Sunglasses"};
        QTest::newRow("no match") << "zzz" << QStringList{};
    }
    void searchIgnoresCase()
    {
        QFETCH(QString, query);
        QFETCH(QStringList, shown);
        ShowWindowFixture f;
        f.load({"Opening Lights", "Glass Harbour", "Blue Hour", "Sunglasses"}, {});
        auto *search = f.poolPane->findChild<QLineEdit *>(QStringLiteral("searchField"));
        QVERIFY(search);
        search->setText(QStringLiteral("x"));
        search->setText(query);
        QCOMPARE(names(f.songs.filteredPoolData()), shown);
        QCOMPARE(f.pool->model()->rowCount(), shown.size());
        for (int i = 0; i < shown.size(); ++i)
            QCOMPARE(f.pool->model()->index(i, 0).data().toString(), shown.at(i));
    }

    // Play and add act on the selected row of the filtered pool.
    void poolButtonsUseTheSelectedSong()
    {
        ShowWindowFixture f;
        f.load({"Blue Hour", "Copper Sky", "Glass Harbour"}, {});
        f.show();
        QAbstractButton *play = f.poolPane->songpoolPlayButton();
        // Nothing selected: nothing happens.
        f.poolPane->addToSetlistButtonPressed();
        QTest::mouseClick(play, Qt::LeftButton);
        QVERIFY(f.sender.messages.isEmpty());

        f.poolPane->findChild<QLineEdit *>(QStringLiteral("searchField"))->setText("COPPER");
        f.clickRow(f.pool, 0);
        QTest::mousePress(play, Qt::LeftButton);
        // Copper Sky: row 0 of the filtered pool, row 1 of the whole pool.
        const quint64 id = f.songs.songPoolData().at(1).id;
        QCOMPARE(f.sender.messages,
                 QList<QByteArray>{QByteArray("\x05", 1) + QByteArray(7, '\0') + char(id)});
        f.sender.clear();
        QTest::mouseClick(f.poolPane->findChild<QAbstractButton *>(QStringLiteral("addButton")),
                          Qt::LeftButton);
        QCOMPARE(names(f.songs.setListData()), QStringList{"Copper Sky"});
        QCOMPARE(f.sender.types(), QList<int>({4, 3})); // first song: position 0 too
        QCOMPARE(f.setList->model()->rowCount(), 1);
        QCOMPARE(f.setlistCell(0), QStringLiteral("Copper Sky"));
        QCOMPARE(f.setlistPane->setTimeDisplayField()->text(), QStringLiteral("00:03:00"));

        f.sender.clear();
        f.poolPane->addToSetlistButtonPressed();
        QCOMPARE(f.sender.types(), QList<int>({4}));
        QCOMPARE(f.setList->model()->rowCount(), 2);
    }

    void transportButtonsFireOnPress_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("command");
        QTest::newRow("play") << "setlistPlayButton" << 1;
        QTest::newRow("stop") << "stopButton" << 2;
        QTest::newRow("previous") << "prevButton" << 3;
        QTest::newRow("next") << "nextButton" << 4;
    }
    void transportButtonsFireOnPress()
    {
        QFETCH(QString, button);
        QFETCH(int, command);
        ShowWindowFixture f;
        f.show();
        auto *b = f.setlistPane->findChild<QAbstractButton *>(button);
        QVERIFY(b);
        QTest::mousePress(b, Qt::LeftButton);
        QCOMPARE(f.sender.messages, QList<QByteArray>({QByteArray("\x01", 1) + char(command)}));
        QTest::mouseRelease(b, Qt::LeftButton);
        QCOMPARE(f.sender.messages.size(), 1);
    }

    // --- cue mode ------------------------------------------------------------------

    void cueModeChoiceSendsMode()
    {
        ShowWindowFixture f;
        QComboBox *box = f.poolPane->cueModeComboBoxCell();
        box->setCurrentIndex(1);
        emit box->activated(1);
        QCOMPARE(f.sender.messages, QList<QByteArray>({QByteArray("\x07\x02", 2)}));
        f.sender.clear();

        f.poolPane->showCueMode(2);
        QCOMPARE(box->currentIndex(), 1);
        QVERIFY(f.sender.messages.isEmpty());
        box->setCurrentIndex(0);
        emit box->activated(0);
        QCOMPARE(f.sender.messages, QList<QByteArray>({QByteArray("\x07\x01", 2)}));

        f.sender.clear();
        f.poolPane->showCueMode(0); // no such mode: nothing chosen, nothing sent
        QCOMPARE(box->currentIndex(), -1);
        QVERIFY(f.sender.messages.isEmpty());
    }

    void cueModeGateHoldsUntilOpened()
    {
        // A pane whose layout has the box but no pool table never opens the gate.
        RecordingSender sender;
        CountingLauncher launcher;
        SongManager songs(sender);
        ShowWindowServices services{songs, sender, launcher};
        StagerunViewController pane;
        auto *box = new QComboBox(&pane);
        box->setObjectName(QStringLiteral("cueModeComboBoxCell"));
        box->addItems({QStringLiteral("Jump Now"), QStringLiteral("End of Song")});
        pane.viewDidLoad(services);
        QVERIFY(!pane.initMode());
        emit box->activated(1);
        pane.showCueMode(2);
        QVERIFY(!pane.initMode());
        QVERIFY(sender.messages.isEmpty());
    }

    // --- read-outs -----------------------------------------------------------------

    void bpmText_data()
    {
        QTest::addColumn<float>("bpm");
        QTest::addColumn<QString>("text");
        QTest::newRow("120") << 120.0f << "120.0";
        QTest::newRow("120.5") << 120.5f << "120.5";
        QTest::newRow("from hundredths") << float(12033) / 100.0f << "120.33";
        QTest::newRow("small") << 0.1f << "0.1";
        QTest::newRow("zero") << 0.0f << "0.0";
        QTest::newRow("large") << 999.99f << "999.99";
    }
    void bpmText()
    {
        QFETCH(float, bpm);
        QFETCH(QString, text);
        ShowWindowFixture f;
        f.poolPane->showBPM(bpm);
        QCOMPARE(f.setlistPane->bpmDisplayField()->text(), text);
        // The text reads back as the same 32-bit float.
        QCOMPARE(text.toFloat(), bpm);
    }

    void statusReadouts_data()
    {
        QTest::addColumn<int>("operation");
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QColor>("lamp");
        QTest::newRow("detector") << 0 << "Searching for Live on port 6000"
                                  << "Searching for Live on port 6000"
                                  << StagerunViewController::lampOrange;
        QTest::newRow("waiting") << 1 << ""
                                 << "Waiting for Validation" << StagerunViewController::lampBlue;
        QTest::newRow("connected") << 2 << ""
                                   << "Connected to Live" << StagerunViewController::lampGreen;
        QTest::newRow("failed, no error")
            << 3 << ""
            << "Connection failed. Retrying..." << StagerunViewController::lampRed;
        QTest::newRow("failed with error")
            << 3 << "Connection refused"
            << "Connection failed: Connection refused" << StagerunViewController::lampRed;
    }
    void statusReadouts()
    {
        QFETCH(int, operation);
        QFETCH(QString, argument);
        QFETCH(QString, text);
        QFETCH(QColor, lamp);
        ShowWindowFixture f;
        ServerDetectorDelegate *delegate = f.window->delegatePane();
        switch (operation) {
        case 0:
            delegate->showServerStatus(argument);
            break;
        case 1:
            delegate->showWaitingForValidation();
            break;
        case 2:
            delegate->showConnected();
            break;
        default:
            delegate->showConnectionFailed(argument);
            break;
        }
        QTRY_COMPARE(f.setlistPane->serverStatusTextField()->text(), text);
        QCOMPARE(f.setlistPane->statusIndicatorColor(), lamp);
        QVERIFY(f.setlistPane->statusIndicatorButton()->styleSheet().contains(lamp.name()));
        const QSize lampSize = f.setlistPane->statusIndicatorButton()->size();
        QCOMPARE(lampSize.width(), lampSize.height());
    }

    void playButtonImagesFollowPlayingState()
    {
        ShowWindowFixture f;
        QAbstractButton *a = f.setlistPane->setlistPlayButton();
        QAbstractButton *b = f.poolPane->songpoolPlayButton();
        QCOMPARE(a->property("imageName").toString(), QStringLiteral("play"));
        f.window->updatePlayButton(true);
        QCOMPARE(a->property("imageName").toString(), QStringLiteral("play2"));
        QCOMPARE(b->property("imageName").toString(), QStringLiteral("play2"));
        QVERIFY(!a->icon().isNull());
        f.window->updatePlayButton(false);
        QCOMPARE(b->property("imageName").toString(), QStringLiteral("play"));

        mlog::Capture log;
        f.setlistPane->setImageRoot(QStringLiteral(":/nowhere/"));
        f.setlistPane->setPlayButtonImage(true);
        QVERIFY(log.contains(QStringLiteral("❌ Couldn't load image named play2")));
        QCOMPARE(a->property("imageName").toString(), QStringLiteral("play"));
    }

    // --- settings, bridge, panels --------------------------------------------------

    // The switch stores the setting, which a window loaded later shows; the bridge
    // button launches the daemon; the MIDI button asks for the mapping window.
    void autoConnectSwitchAndBridgeButton()
    {
        ShowWindowFixture f;
        f.show();
        QSignalSpy midiRequests(f.setlistPane, &StagerunViewController::midiMapWindowRequested);
        QTest::mouseClick(
            f.setlistPane->findChild<QAbstractButton *>(QStringLiteral("midiMapButton")),
            Qt::LeftButton);
        QCOMPARE(midiRequests.count(), 1);
        QCheckBox *sw = f.poolPane->autoConnectToDaemonStatus();
        for (const bool on : {true, false}) {
            QTest::mouseClick(sw, Qt::LeftButton, {}, QPoint(10, sw->height() / 2));
            QCOMPARE(QSettings().value(StagerunViewController::autoConnectKey).toBool(), on);
            QCOMPARE(ShowWindowFixture().poolPane->autoConnectToDaemonStatus()->isChecked(), on);
        }
        QCOMPARE(f.launcher.launches, 0); // the switch is a setting, not a launch

        QTest::mouseClick(
            f.poolPane->findChild<QAbstractButton *>(QStringLiteral("iosBridgeButton")),
            Qt::LeftButton);
        QCOMPARE(f.launcher.launches, 1);
        QVERIFY(f.sender.messages.isEmpty());
    }

    void aboutAndHelp()
    {
        ShowWindowFixture f;
        f.show();
        QMessageBox *about = f.poolPane->orderFrontStandardAboutPanel();
        QVERIFY(about->isVisible());
        QVERIFY(about->text().contains(QStringLiteral("Marquell")));
        QVERIFY(about->text().contains(QStringLiteral("Version 1.5")));
        about->close();
        QMessageBox *help = f.poolPane->showHelp();
        QCOMPARE(help->text(), QStringLiteral("Marquell Help"));
        QVERIFY(help->informativeText().contains(QLatin1Char('@')));
        QCOMPARE(help->buttons().size(), 1);
        QCOMPARE(help->buttons().first()->text().remove(QLatin1Char('&')), QStringLiteral("OK"));
        help->close();
    }

    // Collapsing gives the pool's room back; the next window comes back with the same
    // geometry and the pool still collapsed.
    void panelToggleAndGeometryAreRemembered()
    {
        QRect geometry;
        {
            ShowWindowFixture f;
            f.window->resize(1100, 700);
            f.show();
            const int before = f.window->width();
            const int setlistWidth = f.setlistPane->width();
            f.setlistPane->panelToggler();
            QVERIFY(f.poolPane->isHidden());
            QCOMPARE(f.window->width(), setlistWidth);
            f.poolPane->panelToggler();
            QVERIFY(!f.poolPane->isHidden());
            QCOMPARE(f.window->width(), before);

            f.window->resize(720, 520);
            f.window->move(40, 30);
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
