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

namespace {

constexpr qint32 pedalA = 11;
constexpr qint32 pedalB = 22;

// The window over the fixture's manager, as the performer opens it.
struct WindowFixture : MidiFixture
{
    using MidiFixture::MidiFixture;
    std::unique_ptr<PopUpViewController> view;

    PopUpViewController &open()
    {
        manager->start();
        view = std::make_unique<PopUpViewController>(*manager);
        return *view;
    }
    QStringList menu() const
    {
        QStringList items;
        for (int i = 0; i < view->midiInputSelect()->count(); ++i)
            items.append(view->midiInputSelect()->itemText(i));
        return items;
    }
    void pick(const QString &item)
    {
        QComboBox *box = view->midiInputSelect();
        const int index = box->findText(item);
        box->setCurrentIndex(index);
        emit box->activated(index);
    }
    void learn(int tag, const QByteArray &message)
    {
        QTest::mouseClick(view->cell(tag)->button(), Qt::LeftButton);
        play(*manager->selectedSourceID(), message);
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
    void menuWithoutSources()
    {
        WindowFixture f;
        f.open();
        QCOMPARE(f.menu(), QStringList{"None Selected"});
        QCOMPARE(f.view->midiInputSelect()->currentIndex(), 0);
        QCOMPARE(f.tile(1), (QStringList{"Not mapped", "—"}));
    }

    // The menu's positions shift as devices come and go; the selection must not.
    void devicesChangingWhileOpenKeepTheSelection()
    {
        WindowFixture f({pedalA, pedalB});
        f.open();
        f.pick(QStringLiteral("Pedal 22"));
        QCOMPARE(f.backend.connectedSources(), QList<qint32>{pedalB});
        f.backend.addSource(QStringLiteral("Keys"), 33);
        f.backend.removeSource(pedalA);
        QCOMPARE(f.menu(), (QStringList{"None Selected", "Pedal 22", "Keys"}));
        QCOMPARE(f.view->midiInputSelect()->currentText(), QStringLiteral("Pedal 22"));
        f.pick(QStringLiteral("Keys"));
        QCOMPARE(f.backend.connectedSources(), QList<qint32>{33});
        f.pick(QStringLiteral("None Selected"));
        QVERIFY(f.backend.connectedSources().isEmpty());
        QCOMPARE(f.store.lastPortUniqueID(), std::optional<qint64>(-1));
    }

    void learnShowsAtOnceAndApplySendsFour()
    {
        WindowFixture f({pedalA});
        f.store.setLastPortUniqueID(pedalA);
        // Reopened at launch: the window is there before the manager starts.
        f.view = std::make_unique<PopUpViewController>(*f.manager);
        f.manager->start();
        QCOMPARE(f.view->midiInputSelect()->currentText(), QStringLiteral("Pedal 11"));
        f.learn(2, QByteArray("\xB9\x07\x40", 3));
        QVERIFY(f.view->cell(2)->isSelected() && !f.view->cell(1)->isSelected());
        QCOMPARE(f.tile(2), (QStringList{"CC 7", "CH 10"}));
        QVERIFY(f.sender.messages.isEmpty()); // learnt controls wait for Apply
        QTest::mouseClick(f.view->applyButton(), Qt::LeftButton);
        QCOMPARE(f.sender.messages.size(), 4);
        QCOMPARE(f.sender.messages[1], livelink::encodeSetMapping(9, 1, 7, 2));
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
        QTest::newRow("remove with no tile selected") << false << false << QList<QByteArray>();
        QTest::newRow("remove a learnt control")
            << true << false << QList<QByteArray>{livelink::encodeClearMapping(1)};
        QTest::newRow("clear all sends one message")
            << true << true << QList<QByteArray>{livelink::encodeClearAllMappings()};
    }
    void removeAndClearAll()
    {
        QFETCH(bool, selectTile);
        QFETCH(bool, clearAll);
        QFETCH(QList<QByteArray>, sent);
        WindowFixture f({pedalA});
        f.open();
        f.pick(QStringLiteral("Pedal 11"));
        f.mappings.playMapping = MappingData{0, 0, 36};
        f.mappings.stopMapping = MappingData{0, 0, 38};
        f.view->refreshTiles();
        if (selectTile)
            f.learn(1, QByteArray("\x90\x3C\x40", 3));
        QTest::mouseClick(clearAll ? f.view->clearAllButton() : f.view->removeButton(),
                          Qt::LeftButton);
        QCOMPARE(f.sender.messages, sent);
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
