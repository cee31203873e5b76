// SPDX-License-Identifier: MIT
#include "liveclientharness.h"
#include "log.h"
#include "songmanager.h"

#include <QSignalSpy>
#include <QtTest>

class TestReviewFaults : public QObject
{
    Q_OBJECT

private slots:
    // A type 3 message with a good pool and a cut setlist replaced the pool without
    // telling the views: the pool table kept its old rows while the model changed.
    void poolWithMalformedSetlistReachesTheViews()
    {
        LiveClientHarness h;
        QVERIFY(h.connectAndValidate());
        h.songs.replaceSetlist(QList<Song>{{1, QStringLiteral("Kept"), QStringLiteral("3:00")}});
        QSignalSpy updates(&h.songs, &SongManager::songPoolDidUpdate);

        const QByteArray setlist = bytes({4}) + song(9, "Cut", "2:00");
        QVERIFY(h.deliver(
            {bytes({3}) + song(2, "New", "4:00") + song(3, "Other", "1:00") + setlist.chopped(1)}));

        QCOMPARE(h.songs.songPoolData().size(), 2);
        QCOMPARE(h.songs.setListData().size(), 1);
        QCOMPARE(h.songs.setListData().first().name, QStringLiteral("Kept"));
        QCOMPARE(updates.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestReviewFaults)
#include "tst_reviewfaults.moc"
