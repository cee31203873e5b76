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
        QTest::addColumn<QStringList>("poolIds"); // text: ids above 2^53 survive JSON
        QTest::addColumn<QStringList>("setlist");
        QTest::addColumn<QString>("timeLeft");
        const QByteArray a = song(1, "A", "1:00:00"), b = song(2, "B", "2:30"),
                         odd = song(3, "C", "soon"), big = song(0xF123456789ABCDEFull, "D", "1:00");
        const auto row = [](const char *name, const QByteArray &songData,
                            const QByteArray &selected, const QStringList &poolIds,
                            const QStringList &setlist, const char *timeLeft) {
            QTest::newRow(name) << songData << selected << poolIds << setlist << QString(timeLeft);
        };
        row("nothing selected: the whole set", bytes({3}) + a + b + bytes({4}) + a + b, {},
            {"1", "2"}, {"A", "B"}, "01:02:30");
        row("selection past the end: the whole set", bytes({3}) + a + bytes({4}) + a, bytes({5, 9}),
            {"1"}, {"A"}, "01:00:00");
        row("unreadable length counts nothing", bytes({3}) + odd + b + bytes({4}) + odd + b,
            bytes({5, 0}), {"3", "2"}, {"C", "B"}, "00:02:30");
        // A cut setlist record leaves the pool readable and shows no setlist.
        row("cut setlist", bytes({3}) + a + bytes({4}) + a + b.left(12), bytes({5, 0}), {"1"}, {},
            "00:00:00");
        row("large id, no setlist", bytes({3}) + big, {}, {"17375808098319191535"}, {}, "00:00:00");
    }
    void snapshot()
    {
        QFETCH(QByteArray, songData);
        QFETCH(QByteArray, selected);
        QFETCH(QStringList, poolIds);
        QFETCH(QStringList, setlist);
        QFETCH(QString, timeLeft);
        MarquellState cache;
        cache.songData = songData;
        if (!selected.isEmpty())
            cache.selectedIndex = selected;
        WebShowState show;
        const QJsonObject state = show.snapshot(cache, true, false);
        QStringList ids, names;
        for (const QJsonValue &entry : state.value("pool").toArray())
            ids.append(entry["id"].toString());
        for (const QJsonValue &entry : state.value("setlist").toArray())
            names.append(entry["name"].toString());
        QCOMPARE(ids, poolIds);
        QCOMPARE(names, setlist);
        QVERIFY(show.findSong(ids.last().toULongLong())); // a pool song, in the setlist or not
        QCOMPARE(state.value("setTimeLeft").toString(), timeLeft);
        QCOMPARE(state.value("index").isNull(), selected.isEmpty());
    }

    void originAllowed_data()
    {
        QTest::addColumn<QString>("origin");
        QTest::addColumn<QString>("requestUrl");
        QTest::addColumn<bool>("allowed");
        const auto row = [](const char *name, const QString &origin, const QString &url,
                            bool allowed) {
            QTest::newRow(name) << origin << url << allowed;
        };
        const QString host = QHostInfo::localHostName().section('.', 0, 0);
        const QString ours = "ws://127.0.0.1:51516/ws";
        row("numeric", "http://127.0.0.1:51516", ours, true);
        row("by name", "http://" + host + ".local:51516", "ws://" + host + ".local:51516/ws", true);
        row("IPv6 loopback", "http://[::1]:51516", "ws://[::1]:51516/ws", true);
        row("default port", "http://localhost", "ws://localhost:80/ws", true);
        // Another site's name pointed at this machine: same origin, but not our name.
        row("rebound name", "http://evil.example:51516", "ws://evil.example:51516/ws", false);
        row("page on another port", "http://127.0.0.1:8080", ours, false);
        row("another host", "http://10.9.8.7:51516", ours, false);
        row("https page", "https://127.0.0.1:51516", ours, false);
        row("opaque origin", "null", ours, false);
        row("no origin", "", ours, false);
    }
    void originAllowed()
    {
        QFETCH(QString, origin);
        QFETCH(QString, requestUrl);
        QFETCH(bool, allowed);
        QCOMPARE(webaddress::originAllowed(origin, QUrl(requestUrl)), allowed);
    }

    // Every QR code has three 7x7 finder squares in its corners with a light ring inside,
    // and its format information where readers look: catches a transposed or shifted grid.
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
        // The format information beside the top-left finder, bit 0 first, is a codeword
        // of level M: masked with 0x5412, its top bits 00 and a multiple of 0x537.
        int word = 0, bit = 0;
        for (const auto &[x, y] : {std::pair{8, 0},
                                   {8, 1},
                                   {8, 2},
                                   {8, 3},
                                   {8, 4},
                                   {8, 5},
                                   {8, 7},
                                   {8, 8},
                                   {7, 8},
                                   {5, 8},
                                   {4, 8},
                                   {3, 8},
                                   {2, 8},
                                   {1, 8},
                                   {0, 8}})
            word |= int(code->isDark(x, y)) << bit++;
        word ^= 0x5412;
        QCOMPARE(word >> 13, 0);
        for (bit = 14; bit >= 10; --bit)
            word ^= (word >> bit & 1) ? 0x537 << (bit - 10) : 0;
        QCOMPARE(word, 0);
        const QStringList lines = code->toTerminalText().split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), (n + 4 + 1) / 2); // two rows a line, two-module quiet zone
        QCOMPARE(lines.first().size(), n + 4);
    }
};

QTEST_GUILESS_MAIN(TestWebShowState)
#include "tst_webshowstate.moc"
