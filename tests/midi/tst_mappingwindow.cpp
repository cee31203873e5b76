// SPDX-License-Identifier: MIT
#include "livelinkcodec.h"
#include "mappingcell.h"
#include "midifixture.h"
#include "popupviewcontroller.h"
#include "popupwindowcontroller.h"

#include <QComboBox>
#include <QPushButton>
#include <QSettings>
#include <QToolButton>
#include <QtTest>

using namespace livelink;

namespace {

// The window over the fixture's manager, as the performer opens it.
struct WindowFixture : MidiFixture
{
    using MidiFixture::MidiFixture;
    std::unique_ptr<PopUpViewController> view;

    QComboBox *box() const { return view->midiInputSelect(); }
    QStringList menu() const
    {
        QStringList items;
        for (int i = 0; i < box()->count(); ++i)
            items.append(box()->itemText(i));
        return items;
    }
    void pick(const QString &item)
    {
        box()->setCurrentIndex(box()->findText(item));
        emit box()->activated(box()->currentIndex());
    }
    void learn(int tag, const char *hex)
    {
        QTest::mouseClick(view->cell(tag)->button(), Qt::LeftButton);
        play(*manager->selectedSourceID(), QByteArray::fromHex(hex));
        deliver();
    }
    QStringList tile(int tag) const
    {
        return {view->cell(tag)->valueText(), view->cell(tag)->qualifierText()};
    }
};

} // namespace

class TestMappingWindow : public QObject
{
    Q_OBJECT

private slots:
    // The menu's positions shift as devices come and go; the selection must not, and a
    // source plugged back in is connected again.
    void devicesChangingWhileOpenKeepTheSelection()
    {
        WindowFixture f;
        f.manager->start();
        f.view = std::make_unique<PopUpViewController>(*f.manager);
        QCOMPARE(f.menu(), QStringList{"None Selected"});
        QCOMPARE(f.tile(1), (QStringList{"Not mapped", "—"}));
        f.backend.addSource(QStringLiteral("Pedal 11"), 11);
        f.backend.addSource(QStringLiteral("Pedal 22"), 22);
        f.pick(QStringLiteral("Pedal 22"));
        QCOMPARE(f.backend.connectedSources(), QList<qint32>{22});
        f.backend.addSource(QString(), 33);
        f.backend.removeSource(11);
        f.backend.removeSource(22); // unplugged: nothing selected until it is back
        QCOMPARE(f.box()->currentText(), QStringLiteral("None Selected"));
        f.backend.addSource(QStringLiteral("Pedal 22"), 22);
        QCOMPARE(f.menu(), (QStringList{"None Selected", "Unknown", "Pedal 22"}));
        QCOMPARE(f.box()->currentText(), QStringLiteral("Pedal 22"));
        QCOMPARE(f.backend.connectedSources(), QList<qint32>{22});
        f.pick(QStringLiteral("Unknown"));
        QCOMPARE(f.backend.connectedSources(), QList<qint32>{33});
        f.pick(QStringLiteral("None Selected"));
        QVERIFY(f.backend.connectedSources().isEmpty());
        QCOMPARE(f.store.lastPortUniqueID(), std::optional<qint64>(-1));
    }

    // Without a MIDI system the menu says so instead of offering an empty list.
    void noMidiSystemIsNamedInTheMenu()
    {
        WindowFixture f;
        f.backend.faults.client = -108;
        f.manager->start();
        f.view = std::make_unique<PopUpViewController>(*f.manager);
        QCOMPARE(f.menu(), QStringList{"No MIDI system found"});
        QVERIFY(!f.box()->isEnabled());
    }

    void learnShowsAtOnceAndApplySendsFour()
    {
        WindowFixture f({11});
        f.store.setLastPortUniqueID(11);
        f.mappings.nextMapping = MappingData{1, 5, 20}; // applied earlier: kept
        // Reopened at launch: the window is there before the manager starts.
        f.view = std::make_unique<PopUpViewController>(*f.manager);
        f.manager->start();
        QCOMPARE(f.box()->currentText(), QStringLiteral("Pedal 11"));
        f.learn(2, "b90740");
        QVERIFY(f.view->cell(2)->isSelected() && !f.view->cell(1)->isSelected());
        QCOMPARE(f.tile(2), (QStringList{"CC 7", "CH 10"}));
        QVERIFY(f.sender.messages.isEmpty()); // learnt controls wait for Apply
        QTest::mouseClick(f.view->applyButton(), Qt::LeftButton);
        QCOMPARE(f.sender.messages,
                 (QList<QByteArray>{encodeClearMapping(1), encodeSetMapping(9, 1, 7, 2),
                                    encodeClearMapping(3), encodeSetMapping(5, 1, 20, 4)}));
        QVERIFY(f.manager->tempMappings().isEmpty());
        QCOMPARE(f.manager->selectedMappingTag(), 2);
        QVERIFY(f.view->cell(2)->isSelected());

        // What Live reports back replaces what the tiles show.
        f.mappings.setMapping(3, MappingData{2, 2, 5});
        emit f.mappings.midiMappingDidUpdate();
        QCOMPARE(f.tile(3), (QStringList{"5", "Sysex · CH 3"}));
    }

    void removeAndClearAll_data()
    {
        QTest::addColumn<bool>("selectTile");
        QTest::addColumn<bool>("clearAll");
        QTest::addColumn<QList<QByteArray>>("sent");
        using Sent = QList<QByteArray>;
        QTest::newRow("remove with no tile selected") << false << false << Sent();
        QTest::newRow("remove a learnt control") << true << false << Sent{encodeClearMapping(1)};
        QTest::newRow("clear all, one message") << true << true << Sent{encodeClearAllMappings()};
    }
    void removeAndClearAll()
    {
        QFETCH(bool, selectTile);
        QFETCH(bool, clearAll);
        WindowFixture f({11});
        f.manager->start();
        f.manager->selectSource(0);
        f.mappings.playMapping = MappingData{0, 0, 36};
        f.mappings.stopMapping = MappingData{0, 0, 38};
        f.view = std::make_unique<PopUpViewController>(*f.manager);
        if (selectTile)
            f.learn(1, "903c40");
        QTest::mouseClick(clearAll ? f.view->clearAllButton() : f.view->removeButton(),
                          Qt::LeftButton);
        QTEST(f.sender.messages, "sent");
        QCOMPARE(f.mappings.playMapping.has_value(), !selectTile);
        QCOMPARE(f.mappings.stopMapping.has_value(), !clearAll);
        QCOMPARE(f.tile(1).first(), selectTile ? "Not mapped" : "C2");
        QVERIFY(f.manager->tempMappings().isEmpty());
        QCOMPARE(f.manager->selectedMappingTag(), -1);
        QVERIFY(!f.view->cell(1)->isSelected());
    }

    void secondRequestRaisesAndOpenStateIsRemembered()
    {
        MidiFixture f;
        QSettings settings(f.dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        auto showWindow = std::make_unique<QWidget>();
        auto *opener = new PopUpWindowController(*f.manager, settings, showWindow.get());
        opener->restoreWindow(); // never opened: stays closed
        QVERIFY(!opener->window());
        opener->showWindow();
        QPointer<QWidget> first = opener->window();
        QVERIFY(first && first->isVisible());
        opener->showWindow();
        QCOMPARE(opener->window(), first.data());
        first->close(); // deleted on close
        QTRY_VERIFY(!first);
        opener->showWindow();
        QVERIFY(opener->window() && opener->window()->isVisible());

        // Open at quit (the show window goes and takes it along): open at the next launch.
        showWindow.reset();
        PopUpWindowController next(*f.manager, settings, nullptr);
        next.restoreWindow();
        QVERIFY(next.window() && next.window()->isVisible());
        next.window()->close();
        QCOMPARE(settings.value("MidiMapWindow/open").toBool(), false);
    }
};

QTEST_MAIN(TestMappingWindow)
#include "tst_mappingwindow.moc"
