// SPDX-License-Identifier: MIT
#include "framereader.h"
#include "livelinkcodec.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {

QList<QByteArray> samplePayloads()
{
    return {QByteArray("MARQUELL_SERVER"), QByteArray::fromHex("0101"), QByteArray(4096, '\x03'),
            QByteArray::fromHex("0800002f12"), QByteArray(1, '\x02')};
}

QByteArray stream(const QList<QByteArray> &payloads)
{
    QByteArray out;
    for (const QByteArray &p : payloads)
        out += livelink::frame(p);
    return out;
}

QList<QByteArray> drain(FrameReader &reader)
{
    QList<QByteArray> frames;
    for (FrameReader::Result r = reader.next(); r.status == FrameReader::Status::Frame;
         r = reader.next())
        frames.append(r.payload);
    return frames;
}

} // namespace

class TestFrameReader : public QObject
{
    Q_OBJECT

private slots:
    void sameFramesWhateverTheChunking_data()
    {
        QTest::addColumn<int>("chunk");
        for (int chunk : {1, 2, 3, 4, 5, 7, 64, 4099, 100000})
            QTest::addRow("chunks of %d", chunk) << chunk;
    }
    void sameFramesWhateverTheChunking()
    {
        QFETCH(int, chunk);
        const QByteArray bytes = stream(samplePayloads());
        FrameReader reader;
        QList<QByteArray> frames;
        for (qsizetype i = 0; i < bytes.size(); i += chunk) {
            reader.feed(
                QByteArrayView(bytes).sliced(i, std::min<qsizetype>(chunk, bytes.size() - i)));
            frames += drain(reader);
        }
        QCOMPARE(frames, samplePayloads());
        QCOMPARE(reader.buffered(), qsizetype(0));
    }
    void splitAtEveryPosition()
    {
        const QByteArray bytes = stream(samplePayloads().mid(0, 2));
        for (qsizetype cut = 0; cut <= bytes.size(); ++cut) {
            FrameReader reader;
            reader.feed(QByteArrayView(bytes).first(cut));
            QList<QByteArray> frames = drain(reader);
            reader.feed(QByteArrayView(bytes).sliced(cut));
            frames += drain(reader);
            QCOMPARE(frames, samplePayloads().mid(0, 2));
        }
    }
    void randomChunking()
    {
        const QByteArray bytes = stream(samplePayloads() + samplePayloads());
        QRandomGenerator rng(12345);
        for (int round = 0; round < 50; ++round) {
            FrameReader reader;
            QList<QByteArray> frames;
            for (qsizetype i = 0; i < bytes.size();) {
                const qsizetype n = std::min<qsizetype>(rng.bounded(1, 600), bytes.size() - i);
                reader.feed(QByteArrayView(bytes).sliced(i, n));
                frames += drain(reader);
                i += n;
            }
            QCOMPARE(frames.size(), 10);
        }
    }
    void partialFrameWaits()
    {
        FrameReader reader;
        reader.feed(QByteArray::fromHex("00000005"
                                        "0800"));
        QCOMPARE(reader.next().status, FrameReader::Status::NeedMore);
        reader.feed(QByteArray::fromHex("002f12"));
        const FrameReader::Result r = reader.next();
        QCOMPARE(r.status, FrameReader::Status::Frame);
        QCOMPARE(r.payload, QByteArray::fromHex("0800002f12"));
    }

    void badLengths_data()
    {
        QTest::addColumn<QByteArray>("prefix");
        QTest::addColumn<quint32>("length");
        QTest::newRow("zero") << QByteArray::fromHex("00000000") << 0u;
        QTest::newRow("4097") << QByteArray::fromHex("00001001") << 4097u;
        QTest::newRow("huge") << QByteArray::fromHex("ffffffff") << 0xffffffffu;
    }
    // A bad length leaves the stream out of step: the reader must not carry on.
    void badLengths()
    {
        QFETCH(QByteArray, prefix);
        QFETCH(quint32, length);
        FrameReader reader;
        reader.feed(livelink::frame("MARQUELL_SERVER") + prefix + livelink::frame("\x01\x01"));
        QCOMPARE(reader.next().status, FrameReader::Status::Frame);
        FrameReader::Result r = reader.next();
        QCOMPARE(r.status, FrameReader::Status::BadLength);
        QCOMPARE(r.length, length);
        QVERIFY(reader.failed());
        reader.feed(livelink::frame("\x01\x02"));
        QCOMPARE(reader.next().status, FrameReader::Status::BadLength); // sticky
        reader.clear();
        reader.feed(livelink::frame("\x01\x02"));
        QCOMPARE(reader.next().payload, QByteArray("\x01\x02"));
    }
    void maximumLengthIsRead()
    {
        FrameReader reader;
        reader.feed(livelink::frame(QByteArray(4096, 'a')));
        QCOMPARE(reader.next().payload.size(), 4096);
    }
};

QTEST_APPLESS_MAIN(TestFrameReader)
#include "tst_framereader.moc"
