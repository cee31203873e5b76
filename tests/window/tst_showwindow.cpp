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

namespace {

QByteArray selectIndex(int row)
{
    return QByteArray("\x03", 1) + char(row);
}

} // namespace

class TestShowWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<TempHome> m_home;

private slots:
    void initTestCase() { setUpWindowTestProcess(m_home); }
    void init() { QSettings().clear(); }

    // Without a selection a new setlist sends its first position but shows none selected.
    void refresh_data()
    {
        QTest::addColumn<QString>("before");  // one letter per entry, selected row 2 when set
        QTest::addColumn<QString>("setlist"); // empty: none
        QTest::addColumn<int>("selected");
        QTest::addColumn<QList<QByteArray>>("sent");
        QTest::addColumn<QString>("setTime");
        using L = QList<QByteArray>;
        QTest::newRow("no setlist") << ""
                                    << "" << -1 << L() << "00:00:00";
        QTest::newRow("first position sent") << ""
                                             << "ABC" << -1 << L{selectIndex(0)} << "00:09:00";
        QTest::newRow("selection past the new end: last row, nothing sent")
            << "ABC"
            << "AB" << 1 << L() << "00:06:00";
    }
    void refresh()
    {
        QFETCH(QString, before);
        QFETCH(QString, setlist);
        QFETCH(int, selected);
        QFETCH(QList<QByteArray>, sent);
        QFETCH(QString, setTime);
        ShowWindowFixture f;
        f.load({"A", "B"}, letters(before));
        if (!before.isEmpty())
            f.poolPane->selectSetlistRow(2);
        f.songs.replaceSetlist(setlist.isEmpty()
                                   ? std::nullopt
                                   : std::optional<QList<Song>>(songsNamed(letters(setlist))));
        QCOMPARE(f.sender.messages, sent);
        QCOMPARE(f.setList->selectedRow(), selected);
        QCOMPARE(f.setList->model()->rowCount(), setlist.size());
        QCOMPARE(f.setlistPane->setTimeDisplayField()->text(), setTime);
    }

    void removeReselects_data()
    {
        QTest::addColumn<QString>("setlist");
        QTest::addColumn<int>("selected");
        QTest::addColumn<QString>("after");
        QTest::addColumn<int>("expectedRow"); // -1: nothing selected, no index sent
        QTest::newRow("last") << "ABC" << 2 << "AB" << 1;
        QTest::newRow("middle") << "ABC" << 1 << "AC" << 1;
        QTest::newRow("first") << "ABC" << 0 << "BC" << 0;
        QTest::newRow("only entry") << "A" << 0 << "" << -1;
        QTest::newRow("nothing selected") << "AB" << -1 << "AB" << -1;
    }
    void removeReselects()
    {
        QFETCH(QString, setlist);
        QFETCH(int, selected);
        QFETCH(QString, after);
        QFETCH(int, expectedRow);
        ShowWindowFixture f;
        f.load({}, letters(setlist));
        if (selected >= 0)
            f.poolPane->selectSetlistRow(selected);
        f.setlistPane->removeFromSetlistButtonPressed();
        QCOMPARE(names(f.songs.setListData()), letters(after));
        if (selected < 0) {
            QVERIFY(f.sender.messages.isEmpty());
            return;
        }
        QCOMPARE(f.setList->selectedRow(), expectedRow);
        QCOMPARE(names(f.sender.setlists.value(0)), letters(after));
        QCOMPARE(f.sender.types(), expectedRow < 0 ? QList<int>({4}) : QList<int>({4, 3}));
        if (expectedRow >= 0)
            QCOMPARE(f.sender.messages.last(), selectIndex(expectedRow));
        QCOMPARE(f.setlistPane->setTimeDisplayField()->text(),
                 SongManager::formatSetTime(180.0 * (after.size() - qMax(expectedRow, 0))));
    }

    // Live's positions are shown, not sent back, and its setlist with old names shows the
    // pool's. A click that changes the selection is sent once. A click that leaves it as
    // it was keeps the user flag, so the next position from Live is sent back once.
    // Arrow keys count as the user's; other keys not.
    void selectionEchoRule()
    {
        ShowWindowFixture f;
        f.load(letters("ABC"), letters("ABC"));
        f.show();
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

    // The pool's search ignores case; an empty one shows all.
    void searchIgnoresCase()
    {
        ShowWindowFixture f;
        f.load({"Glass Harbour", "Blue Hour", "Sunglasses"}, {});
        auto *search = f.poolPane->findChild<QLineEdit *>(QStringLiteral("searchField"));
        QStringList shown;
        for (const char *query : {"gLAss", "zzz", ""}) {
            search->setText(query);
            shown << names(f.songs.filteredPoolData()).join('+');
            QCOMPARE(f.pool->model()->rowCount(), f.songs.filteredPoolData().size());
        }
        QCOMPARE(shown, (QStringList{"Glass Harbour+Sunglasses", "",
                                     "Blue Hour+Glass Harbour+Sunglasses"}));
    }

    // Play and add act on the selected row of the filtered pool; nothing selected, nothing.
    void poolButtonsUseTheSelectedSong()
    {
        ShowWindowFixture f;
        f.load({"Blue Hour", "Copper Sky", "Glass Harbour"}, {});
        f.show();
        QAbstractButton *play = f.poolPane->songpoolPlayButton();
        f.poolPane->addToSetlistButtonPressed();
        QTest::mouseClick(play, Qt::LeftButton);
        QVERIFY(f.sender.messages.isEmpty());

        f.poolPane->findChild<QLineEdit *>(QStringLiteral("searchField"))->setText("COPPER");
        f.clickRow(f.pool, 0);
        QTest::mousePress(play, Qt::LeftButton);
        const quint64 id = f.songs.songPoolData().at(1).id;
        QCOMPARE(f.sender.messages,
                 QList<QByteArray>{QByteArray("\x05", 1) + QByteArray(7, '\0') + char(id)});
        f.sender.clear();
        QTest::mouseClick(f.poolPane->findChild<QAbstractButton *>(QStringLiteral("addButton")),
                          Qt::LeftButton);
        QCOMPARE(f.setlistCell(0), QStringLiteral("Copper Sky"));
        QCOMPARE(f.sender.types(), QList<int>({4, 3})); // first song: position 0 too
        QCOMPARE(f.setlistPane->setTimeDisplayField()->text(), QStringLiteral("00:03:00"));
        f.sender.clear();
        f.poolPane->addToSetlistButtonPressed();
        QCOMPARE(f.sender.types(), QList<int>({4}));
    }

    void transportButtonsFireOnce()
    {
        ShowWindowFixture f;
        f.show();
        for (const char *name : {"setlistPlayButton", "stopButton", "prevButton", "nextButton"})
            QTest::mouseClick(f.setlistPane->findChild<QAbstractButton *>(name), Qt::LeftButton);
        QCOMPARE(f.sender.messages,
                 (QList<QByteArray>{"\x01\x01", "\x01\x02", "\x01\x03", "\x01\x04"}));
    }

    // The user's choice is sent as mode 1 or 2; Live's mode is shown, not echoed.
    void cueModeChoiceSendsMode()
    {
        ShowWindowFixture f;
        QComboBox *box = f.poolPane->cueModeComboBoxCell();
        QCOMPARE(box->itemText(0) + "/" + box->itemText(1), QStringLiteral("Jump Now/End of Song"));
        QCOMPARE(box->currentIndex(), 0);
        box->setCurrentIndex(1);
        emit box->activated(1);
        box->setCurrentIndex(0);
        emit box->activated(0);
        QCOMPARE(f.sender.messages, (QList<QByteArray>{"\x07\x02", QByteArray("\x07\x01", 2)}));
        f.sender.clear();
        f.poolPane->showCueMode(2);
        QCOMPARE(box->currentIndex(), 1);
        f.poolPane->showCueMode(0); // no such mode: nothing chosen
        QCOMPARE(box->currentIndex(), -1);
        QVERIFY(f.sender.messages.isEmpty());
    }

    void bpmText()
    {
        ShowWindowFixture f;
        QStringList shown;
        for (const float bpm : {120.0f, float(12033) / 100.0f, 0.1f, 999.99f}) {
            f.poolPane->showBPM(bpm);
            shown << f.setlistPane->bpmDisplayField()->text();
        }
        QCOMPARE(shown, (QStringList{"120.0", "120.33", "0.1", "999.99"}));
    }

    // Queued from the detector's delegate, shown on the setlist pane; grey until then.
    void statusReadouts_data()
    {
        QTest::addColumn<int>("operation");
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QColor>("lamp");
        QTest::addColumn<QString>("text");
        using C = StagerunViewController;
        QTest::newRow("detector") << 0 << "Searching on 6000" << C::lampOrange
                                  << "Searching on 6000";
        QTest::newRow("waiting") << 1 << "" << C::lampBlue << "Waiting for Validation";
        QTest::newRow("connected") << 2 << "" << C::lampGreen << "Connected to Live";
        QTest::newRow("failed") << 3 << "" << C::lampRed << "Connection failed. Retrying...";
        QTest::newRow("failed with error")
            << 3 << "Refused" << C::lampRed << "Connection failed: Refused";
    }
    void statusReadouts()
    {
        QFETCH(int, operation);
        QFETCH(QString, argument);
        QFETCH(QColor, lamp);
        QFETCH(QString, text);
        ShowWindowFixture f;
        QCOMPARE(f.setlistPane->statusIndicatorColor(), StagerunViewController::lampGrey);
        ServerDetectorDelegate *delegate = f.window->delegatePane();
        if (operation == 0)
            delegate->showServerStatus(argument);
        else if (operation == 1)
            delegate->showWaitingForValidation();
        else if (operation == 2)
            delegate->showConnected();
        else
            delegate->showConnectionFailed(argument);
        QTRY_COMPARE(f.setlistPane->serverStatusTextField()->text(), text);
        QCOMPARE(f.setlistPane->statusIndicatorColor(), lamp);
        QVERIFY(f.setlistPane->statusIndicatorButton()->styleSheet().contains(lamp.name()));
    }

    // Both play buttons follow; a missing image keeps the one shown.
    void playButtonImagesFollowPlayingState()
    {
        ShowWindowFixture f;
        QAbstractButton *a = f.setlistPane->setlistPlayButton();
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
    }

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
        QCOMPARE(f.launcher.launches, 0);
        QTest::mouseClick(
            f.poolPane->findChild<QAbstractButton *>(QStringLiteral("iosBridgeButton")),
            Qt::LeftButton);
        QCOMPARE(f.launcher.launches, 1);
    }

    void aboutAndHelp()
    {
        ShowWindowFixture f;
        QMessageBox *about = f.poolPane->orderFrontStandardAboutPanel();
        QVERIFY(about->text().contains(QStringLiteral("Version 1.5")));
        about->close();
        QMessageBox *help = f.poolPane->showHelp();
        QCOMPARE(help->text(), QStringLiteral("Marquell Help"));
        QVERIFY(help->informativeText().contains(QLatin1Char('@')));
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
            f.window->findChild<QSplitter *>()->setSizes({400, 700}); // not the pool's own width
            const int before = f.window->width();
            const int setlistWidth = f.setlistPane->width();
            f.setlistPane->panelToggler();
            QVERIFY(f.poolPane->isHidden());
            QCOMPARE(f.window->width(), setlistWidth);
            f.poolPane->panelToggler();
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
