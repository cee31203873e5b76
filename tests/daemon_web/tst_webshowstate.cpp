// SPDX-License-Identifier: MIT
// The pure parts of the web remote: the show as the page sees it, which pages may
// drive it, and the QR code of its address.
#include "livebytes.h"
#include "marquellstate.h"
#include "qrcode.h"
#include "webaddress.h"
#include "webshowstate.h"

#include <QHostInfo>
#include <QJsonArray>
#include <QtTest>

using namespace livebytes;

class TestWebShowState : public QObject
{
    Q_OBJECT

private slots:
    void snapshot_data()
    {
        QTest::addColumn<QByteArray>("songData");
        QTest::addColumn<QByteArray>("selected");
        QTest::addColumn<int>("poolSize");
        QTest::addColumn<QStringList>("setlist");
        QTest::addColumn<QString>("timeLeft");
        const QByteArray a = song(1, "A", "1:00:00"), b = song(2, "B", "2:30"),
                         odd = song(3, "C", "soon");
        QTest::newRow("nothing selected: the whole set")
            << bytes({3}) + a + b + bytes({4}) + a + b << QByteArray() << 2 << QStringList{"A", "B"}
            << "01:02:30";
        QTest::newRow("selection past the end: the whole set")
            << bytes({3}) + a + bytes({4}) + a << bytes({5, 9}) << 1 << QStringList{"A"}
            << "01:00:00";
        QTest::newRow("unreadable length counts nothing")
            << bytes({3}) + odd + b + bytes({4}) + odd + b << bytes({5, 0}) << 2
            << QStringList{"C", "B"} << "00:02:30";
        // A cut setlist record leaves the pool readable and shows no setlist.
        QTest::newRow("cut setlist") << bytes({3}) + a + bytes({4}) + b.left(12) << bytes({5, 0})
                                     << 1 << QStringList{} << "00:00:00";
    }
    void snapshot()
    {
        QFETCH(QByteArray, songData);
        QFETCH(QByteArray, selected);
        QFETCH(int, poolSize);
        QFETCH(QStringList, setlist);
        QFETCH(QString, timeLeft);
        MarquellState cache;
        cache.songData = songData;
        if (!selected.isEmpty())
            cache.selectedIndex = selected;
        WebShowState show;
        const QJsonObject state = show.snapshot(cache, true, false);
        QCOMPARE(state.value("pool").toArray().size(), poolSize);
        QStringList names;
        for (const QJsonValue &entry : state.value("setlist").toArray())
            names.append(entry.toObject().value("name").toString());
        QCOMPARE(names, setlist);
        QCOMPARE(state.value("setTimeLeft").toString(), timeLeft);
        QCOMPARE(state.value("index").isNull(), selected.isEmpty());
    }

    // Ids above 2^53 survive: the page gets them as text and sends them back.
    void largeIds()
    {
        MarquellState cache;
        const quint64 id = 0xF123456789ABCDEFull;
        cache.songData = bytes({3}) + song(id, "Big", "3:00");
        WebShowState show;
        const QJsonArray pool = show.snapshot(cache, false, false).value("pool").toArray();
        QCOMPARE(pool.first().toObject().value("id").toString(), QString::number(id));
        QCOMPARE(show.findSong(id)->name, QString("Big"));
    }

    void originAllowed_data()
    {
        QTest::addColumn<QString>("origin");
        QTest::addColumn<QString>("requestUrl");
        QTest::addColumn<bool>("allowed");
        const QString host = QHostInfo::localHostName().section('.', 0, 0);
        QTest::newRow("numeric") << "http://127.0.0.1:51516"
                                 << "ws://127.0.0.1:51516/ws" << true;
        QTest::newRow("by name") << "http://" + host + ".local:51516"
                                 << "ws://" + host + ".local:51516/ws" << true;
        QTest::newRow("IPv6 loopback") << "http://[::1]:51516"
                                       << "ws://[::1]:51516/ws" << true;
        QTest::newRow("default port") << "http://localhost"
                                      << "ws://localhost:80/ws" << true;
        // Another site's name pointed at this machine: same origin, but not our name.
        QTest::newRow("rebound name") << "http://evil.example:51516"
                                      << "ws://evil.example:51516/ws" << false;
        QTest::newRow("page on another port") << "http://127.0.0.1:8080"
                                              << "ws://127.0.0.1:51516/ws" << false;
        QTest::newRow("another host") << "http://10.9.8.7:51516"
                                      << "ws://127.0.0.1:51516/ws" << false;
        QTest::newRow("https page") << "https://127.0.0.1:51516"
                                    << "ws://127.0.0.1:51516/ws" << false;
        QTest::newRow("opaque origin") << "null"
                                       << "ws://127.0.0.1:51516/ws" << false;
    }
    void originAllowed()
    {
        QFETCH(QString, origin);
        QFETCH(QString, requestUrl);
        QFETCH(bool, allowed);
        QCOMPARE(webaddress::originAllowed(origin, QUrl(requestUrl)), allowed);
    }

    // Every QR code has three 7x7 finder squares in its corners and a light
    // module inside their ring: catches a transposed or shifted module grid.
    void qrFinderPatterns()
    {
        const std::optional<QrCode> code = QrCode::encode("http://192.168.178.20:51516/");
        QVERIFY(code);
        const int n = code->size();
        for (const auto &[x0, y0] : {std::pair{0, 0}, {n - 7, 0}, {0, n - 7}}) {
            for (int i = 0; i < 7; ++i) {
                QVERIFY(code->isDark(x0 + i, y0) && code->isDark(x0 + i, y0 + 6));
                QVERIFY(code->isDark(x0, y0 + i) && code->isDark(x0 + 6, y0 + i));
            }
            QVERIFY(!code->isDark(x0 + 1, y0 + 1) && code->isDark(x0 + 3, y0 + 3));
        }
        const QStringList lines = code->toTerminalText().split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), (n + 4 + 1) / 2); // two rows a line, two-module quiet zone
        QCOMPARE(lines.first().size(), n + 4);
    }
};

QTEST_GUILESS_MAIN(TestWebShowState)
#include "tst_webshowstate.moc"
