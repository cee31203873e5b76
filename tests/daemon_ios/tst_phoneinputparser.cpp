// SPDX-License-Identifier: MIT
#include "livebytes.h"
#include "phoneinputparser.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace livebytes;
using Parser = PhoneInputParser;

namespace {

// "live 0101", "midi 903c64", then "fault 0 0xff" (kind, first byte) when input was dropped.
QStringList describe(const Parser::Result &result)
{
    QStringList out;
    for (const Parser::Message &message : result.messages)
        out << (message.kind == Parser::Message::Kind::Midi ? "midi " : "live ") +
                   QString::fromLatin1(message.bytes.toHex());
    if (result.fault)
        out << QStringLiteral("fault %1 0x%2")
                   .arg(int(*result.fault))
                   .arg(result.faultByte, 2, 16, QLatin1Char('0'));
    return out;
}

QByteArray setlist(int songs)
{
    QByteArray out(1, 4);
    for (int i = 0; i < songs; ++i)
        out += song(0x8000000001000000ull + i, "Song " + QByteArray::number(i),
                    "3:2" + QByteArray::number(i % 10));
    return out;
}

} // namespace

class TestPhoneInputParser : public QObject
{
    Q_OBJECT

private slots:
    // Chunks are fed in order; an empty chunk marks where the phone paused long enough
    // to end a setlist. Each row's list is everything taken, in order.
    void messages_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QStringList>("taken");
        using C = QList<QByteArray>;
        const QByteArray quiet;
        const QByteArray one = setlist(1);
        const QString list = "live " + QString::fromLatin1(one.toHex());

        QTest::newRow("MIDI record in two chunks")
            << C{bytes({0x20, 0x90}), bytes({0x3c, 0x64})} << QStringList{"midi 903c64"};
        QTest::newRow("MIDI then transport")
            << C{bytes({0x20, 0x80, 0x3c, 0, 1, 1})} << QStringList{"midi 803c00", "live 0101"};
        // Two messages, not six bytes of one.
        QTest::newRow("transport then MIDI")
            << C{bytes({1, 1, 0x20, 0x90, 0x3c, 0x64})} << QStringList{"live 0101", "midi 903c64"};
        QTest::newRow("every fixed size back to back")
            << C{bytes({0, 1, 2, 3, 4, 5, 1, 4, 2, 1, 3, 7, 7, 2, 9, 5, 0,
                        0, 0, 0, 0, 0, 0, 7, 6, 1, 2, 3, 4, 5, 6, 7, 8})}
            << QStringList{"live 000102030405",
                           "live 0104",
                           "live 0201",
                           "live 0307",
                           "live 0702",
                           "live 09",
                           "live 050000000000000007",
                           "live 060102030405060708"};
        QTest::newRow("play song cut, then completed")
            << C{bytes({5, 0, 0}), bytes({0, 0, 0, 0, 0, 9})}
            << QStringList{"live 050000000000000009"};
        QTest::newRow("setlist waits for the quiet time") << C{one} << QStringList{};
        QTest::newRow("setlist ended by quiet time") << C{one, quiet} << QStringList{list};
        QTest::newRow("empty setlist") << C{bytes({4}), quiet} << QStringList{"live 04"};
        QTest::newRow("setlist then MIDI and transport at once")
            << C{one + bytes({0x20, 0x90, 0x3c, 0x64, 1, 2}), quiet}
            << QStringList{list, "midi 903c64", "live 0102"};
        // A record cut by a pause is not taken: it waits for the rest.
        QTest::newRow("setlist record cut across a pause")
            << C{one.first(7), quiet, one.sliced(7), quiet} << QStringList{list};
        const QByteArray other = bytes({4}) + song(9, "X", "1:00") + song(8, "Y", "2:00");
        QTest::newRow("a second, different setlist")
            << C{one, quiet, other, quiet}
            << QStringList{list, "live " + QString::fromLatin1(other.toHex())};
        QTest::newRow("transport after a taken setlist")
            << C{one, quiet, bytes({1, 4})} << QStringList{list, "live 0104"};
        QTest::newRow("unknown type") << C{bytes({0xff, 1, 1})} << QStringList{"fault 0 0xff"};
        QTest::newRow("type 8 is the server's")
            << C{bytes({8, 0, 0, 0, 1})} << QStringList{"fault 0 0x08"};
        // The drop clears what was pending, so the next message parses cleanly.
        QTest::newRow("garbage then a command")
            << C{bytes({1, 1, 0x42, 1, 2}), bytes({1, 3})}
            << QStringList{"live 0101", "fault 0 0x42", "live 0103"};
        QTest::newRow("MIDI record without a status byte")
            << C{bytes({0x20, 0x10, 0x3c, 0x64})} << QStringList{"fault 1 0x20"};
        QTest::newRow("MIDI record with SysEx")
            << C{bytes({0x20, 0xf0, 0x01, 0x02})} << QStringList{"fault 1 0x20"};
        QTest::newRow("MIDI data byte with the high bit")
            << C{bytes({0x20, 0x90, 0x3c, 0x80})} << QStringList{"fault 1 0x20"};
        QTest::newRow("setlist name not UTF-8")
            << C{bytes({4}) + u64(1) + text("\xff\xfe") + text("1:00")}
            << QStringList{"fault 2 0x04"};
    }
    void messages()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QStringList, taken);
        Parser parser;
        QStringList all;
        for (const QByteArray &chunk : chunks)
            all += describe(chunk.isEmpty() ? parser.quietTimeElapsed() : parser.feed(chunk));
        QCOMPARE(all, taken);
        // The fuzzing entry point: all of it at once, then the quiet time.
        if (chunks.indexOf(QByteArray()) == chunks.size() - 1)
            QCOMPARE(describe(Parser::parseAll(chunks.join())), taken);
    }

    // A 200-song setlist arrives whole and once however TCP cut it, and nothing is
    // taken before the phone goes quiet.
    void setlistInAnyChunking_data()
    {
        QTest::addColumn<int>("maxChunk");
        QTest::newRow("one byte at a time") << 1;
        QTest::newRow("up to 7") << 7;
        QTest::newRow("up to 1448, a Wi-Fi segment") << 1448;
    }
    void setlistInAnyChunking()
    {
        QFETCH(int, maxChunk);
        const QByteArray list = setlist(200);
        QRandomGenerator random(quint32(maxChunk) * 7919u);
        for (int round = 0; round < 20; ++round) {
            Parser parser;
            for (qsizetype offset = 0, size = 0; offset < list.size(); offset += size) {
                size = qMin<qsizetype>(1 + random.bounded(maxChunk), list.size() - offset);
                const Parser::Result result =
                    parser.feed(QByteArrayView(list).sliced(offset, size));
                QVERIFY(result.messages.isEmpty() && !result.fault && result.awaitingQuiet);
            }
            QCOMPARE(describe(parser.quietTimeElapsed()),
                     QStringList{"live " + QString::fromLatin1(list.toHex())});
            QCOMPARE(parser.pending(), 0);
        }
    }

    // Input that never ends a message is capped: the client has to be dropped.
    void pendingInputIsCapped()
    {
        Parser parser;
        QByteArray flood(1, 4);
        while (flood.size() <= Parser::kMaxPending)
            flood += song(1, QByteArray(200, 'n'), "1:00");
        QVERIFY(!parser.feed(flood.first(Parser::kMaxPending)).fault);
        const Parser::Result result = parser.feed(flood.sliced(Parser::kMaxPending, 64));
        QCOMPARE(result.fault, std::optional(Parser::Fault::Overflow));
        QCOMPARE(parser.pending(), 0);
    }
};

QTEST_GUILESS_MAIN(TestPhoneInputParser)
#include "tst_phoneinputparser.moc"
