// SPDX-License-Identifier: MIT
#include "livebytes.h"
#include "phoneinputparser.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace livebytes;
using Parser = PhoneInputParser;

namespace {

// "live 0101", "midi 903c64", then "fault 0xff" when input was dropped.
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

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

} // namespace

class TestPhoneInputParser : public QObject
{
    Q_OBJECT

private slots:
    // Chunks are fed in order; "quiet" marks where the phone paused long enough to
    // end a setlist. Each row's list is everything taken, in order.
    void messages_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QStringList>("taken");
        using C = QList<QByteArray>;
        const QByteArray quiet; // an empty chunk stands for the quiet time
        const QByteArray one = setlist(1);
        const QString fault = QStringLiteral("fault %1 0x%2");

        QTest::newRow("MIDI record")
            << C{bytes({0x20, 0x90, 0x3c, 0x64})} << QStringList{"midi 903c64"};
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
        QTest::newRow("setlist ended by quiet time")
            << C{one, quiet} << QStringList{"live " + hex(one)};
        QTest::newRow("empty setlist") << C{bytes({4}), quiet} << QStringList{"live 04"};
        QTest::newRow("setlist then transport at once")
            << C{one + bytes({1, 1}), quiet} << QStringList{"live " + hex(one), "live 0101"};
        QTest::newRow("setlist then MIDI and transport at once")
            << C{one + bytes({0x20, 0x90, 0x3c, 0x64, 1, 2}), quiet}
            << QStringList{"live " + hex(one), "midi 903c64", "live 0102"};
        // A record cut by a pause is not taken: it waits for the rest.
        QTest::newRow("setlist record cut across a pause")
            << C{one.first(7), quiet, one.sliced(7), quiet} << QStringList{"live " + hex(one)};
        QTest::newRow("transport after a taken setlist")
            << C{one, quiet, bytes({1, 4})} << QStringList{"live " + hex(one), "live 0104"};
        QTest::newRow("unknown type")
            << C{bytes({0xff, 1, 1})} << QStringList{fault.arg(0).arg("ff")};
        QTest::newRow("type 8 is the server's")
            << C{bytes({8, 0, 0, 0, 1})} << QStringList{fault.arg(0).arg("08")};
        // The drop clears what was pending, so the next message parses cleanly.
        QTest::newRow("garbage then a command")
            << C{bytes({1, 1, 0x42, 1, 2}), bytes({1, 3})}
            << QStringList{"live 0101", fault.arg(0).arg("42"), "live 0103"};
        QTest::newRow("MIDI record without a status byte")
            << C{bytes({0x20, 0x10, 0x3c, 0x64})} << QStringList{fault.arg(1).arg("20")};
        QTest::newRow("MIDI record with SysEx")
            << C{bytes({0x20, 0xf0, 0x01, 0x02})} << QStringList{fault.arg(1).arg("20")};
        QTest::newRow("setlist name not UTF-8")
            << C{bytes({4}) + u64(1) + text("\xff\xfe") + text("1:00")}
            << QStringList{fault.arg(2).arg("04")};
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
            qsizetype offset = 0;
            while (offset < list.size()) {
                const qsizetype size =
                    qMin<qsizetype>(1 + random.bounded(maxChunk), list.size() - offset);
                const Parser::Result result =
                    parser.feed(QByteArrayView(list).sliced(offset, size));
                QVERIFY(result.messages.isEmpty() && !result.fault);
                QVERIFY(result.awaitingQuiet);
                offset += size;
            }
            QCOMPARE(describe(parser.quietTimeElapsed()), QStringList{"live " + hex(list)});
            QCOMPARE(parser.pending(), 0);
        }
    }

    // Input that never ends a message is capped: the client has to be dropped.
    void pendingInputIsCapped()
    {
        Parser parser;
        const QByteArray record = song(1, QByteArray(200, 'n'), "1:00");
        QByteArray flood(1, 4);
        while (flood.size() <= Parser::kMaxPending)
            flood += record;
        Parser::Result result = parser.feed(flood.first(Parser::kMaxPending));
        QVERIFY(!result.fault);
        result = parser.feed(flood.sliced(Parser::kMaxPending, 64));
        QCOMPARE(result.fault, std::optional(Parser::Fault::Overflow));
        QCOMPARE(parser.pending(), 0);
    }

    void clearDropsPendingInput()
    {
        Parser parser;
        parser.feed(bytes({0x20, 0x90}));
        parser.clear();
        // Glued to the old bytes these would be a MIDI record; alone they are garbage.
        QCOMPARE(describe(parser.feed(bytes({0x3c, 0x64}))), QStringList{"fault 0 0x3c"});
    }

    // The fuzzing entry point: without a fault, what was taken is the input's
    // front, byte for byte and in order, and what is left is a cut message.
    void parseAllTakesTheInputsFront()
    {
        QRandomGenerator random(12345);
        for (int round = 0; round < 2000; ++round) {
            QByteArray input(random.bounded(64), Qt::Uninitialized);
            for (char &byte : input)
                byte = char(random.bounded(11) == 10 ? 0x20 : random.bounded(11));
            const Parser::Result result = Parser::parseAll(input);
            if (result.fault)
                continue;
            QByteArray rebuilt;
            for (const Parser::Message &message : result.messages)
                rebuilt += message.kind == Parser::Message::Kind::Midi ? char(0x20) + message.bytes
                                                                       : message.bytes;
            QCOMPARE(rebuilt.toHex(), input.first(rebuilt.size()).toHex());
            QVERIFY2(input.size() - rebuilt.size() < 9 || input.at(rebuilt.size()) == 4,
                     input.toHex().constData());
        }
    }
};

QTEST_GUILESS_MAIN(TestPhoneInputParser)
#include "tst_phoneinputparser.moc"
