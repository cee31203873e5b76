// SPDX-License-Identifier: MIT
// The position inside the song between Live's reports, the current song's sections and
// the setlist's marks.
#include "songposition.h"

#include <QtTest>

using namespace std::chrono_literals;
using Steps = QList<QList<int>>;
using SongPosition = livelink::SongPosition;

class TestSongPosition : public QObject
{
    Q_OBJECT

private slots:
    // Steps: {at ms, song, elapsed, length, state} is a report arriving, {at ms, shown} a look.
    void estimateBetweenReports_data()
    {
        QTest::addColumn<Steps>("steps");
        QTest::newRow("advances while playing")
            << Steps{{0, 1, 1000, 10000, 1}, {0, 1000}, {250, 1250}, {1000, 2000}};
        QTest::newRow("stopped stands still") << Steps{{0, 1, 1000, 10000, 0}, {5000, 1000}};
        QTest::newRow("never past the end") << Steps{{0, 1, 9900, 10000, 1}, {500, 10000}};
        QTest::newRow("a jump back replaces the estimate") << Steps{{0, 1, 5000, 10000, 1},
                                                                    {100, 5100},
                                                                    {100, 1, 2000, 10000, 1},
                                                                    {100, 2000},
                                                                    {300, 2200}};
        QTest::newRow("a report ahead replaces it")
            << Steps{{0, 1, 1000, 10000, 1}, {100, 1, 1300, 10000, 1}, {100, 1300}, {200, 1400}};
        QTest::newRow("a little behind: held until caught up") << Steps{{0, 1, 1000, 10000, 1},
                                                                        {100, 1, 1040, 10000, 1},
                                                                        {100, 1100},
                                                                        {150, 1100},
                                                                        {200, 1140}};
        QTest::newRow("far behind the estimate: Live's word")
            << Steps{{0, 1, 1000, 10000, 1}, {1000, 1, 1100, 10000, 1}, {1000, 1100}};
        QTest::newRow("another song starts from its report")
            << Steps{{0, 1, 9000, 10000, 1}, {100, 2, 0, 5000, 1}, {100, 0}, {200, 100}};
        QTest::newRow("stopped a little before the estimate")
            << Steps{{0, 1, 1000, 10000, 1}, {100, 1, 1080, 10000, 0}, {100, 1080}, {900, 1080}};
    }
    void estimateBetweenReports()
    {
        QFETCH(Steps, steps);
        SongPositionModel model;
        const auto t0 = SongPositionModel::Clock::now();
        for (const QList<int> &s : steps) {
            const auto at = t0 + std::chrono::milliseconds(s[0]);
            if (s.size() == 2) {
                QCOMPARE(model.elapsedAt(at), quint32(s[1]));
                QCOMPARE(model.remainingAt(at), model.report().lengthMs - quint32(s[1]));
            } else {
                model.applyPosition(SongPosition{quint64(s[1]), quint32(s[2]), quint32(s[3]), 0,
                                                 quint8(s[4]), livelink::kNoSection},
                                    at);
            }
        }
    }

    // Sections belong to one song; marks follow Live's setlist by entry, a song standing
    // twice carries them on both; a count that disagrees marks what both have.
    void sectionsAndMarks()
    {
        SongPositionModel model;
        QVERIFY(!model.isKnown());
        const QList<livelink::Section> verseChorus{{"Verse", 0, 1000}, {"Chorus", 1000, 500}};
        model.applySections({7, verseChorus});
        QVERIFY(model.isKnown());
        QVERIFY(model.currentSections().isEmpty()); // no song at the play position yet
        model.applyPosition({7, 0, 1500, 0, 1, livelink::kNoSection}, {});
        QCOMPARE(model.currentSections(), verseChorus);
        model.applyPosition({8, 0, 1500, 0, 3, livelink::kNoSection}, {});
        QVERIFY(model.currentSections().isEmpty());
        QVERIFY(model.stopsAfterSong());

        model.applyMarks({{1, 0, 2, 1}}, {7, 8, 9, 7});
        QCOMPARE(QList<int>() << model.marksOf(7) << model.marksOf(8) << model.marksOf(9),
                 (QList<int>{1, 0, 2}));
        model.applyMarks({{0, 2, 1}}, {7, 8});
        QCOMPARE(QList<int>() << model.marksOf(7) << model.marksOf(8) << model.marksOf(9),
                 (QList<int>{0, 2, 0}));

        QSignalSpy changed(&model, &SongPositionModel::positionChanged);
        model.reset();
        QCOMPARE(changed.count(), 1);
        QVERIFY(!model.isKnown() && !model.marksOf(8) && !model.stopsAfterSong());
    }
};

QTEST_MAIN(TestSongPosition)
#include "tst_songposition.moc"
