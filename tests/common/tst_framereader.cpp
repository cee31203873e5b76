// SPDX-License-Identifier: MIT
#include "framereader.h"
#include "livelinkcodec.h"

#include <QtEndian>
#include <QtTest>

class TestFrameReader : public QObject
{
    Q_OBJECT

private slots:
    // One byte at a time splits every length prefix and payload at every position.
    void sameFramesWhateverTheChunking_data()
    {
        QTest::addColumn<int>("chunk");
        for (int chunk : {1, 3, 4, 5, 4099, 100000})
            QTest::addRow("chunks of %d", chunk) << chunk;
    }
    void sameFramesWhateverTheChunking()
    {
        QFETCH(int, chunk);
        const QList<QByteArray> payloads{"MARQUELL_SERVER", QByteArray::fromHex("0101"),
                                         QByteArray(4096, '\x03'), QByteArray(1, '\x02')};
        QByteArray bytes;
        for (const QByteArray &p : payloads)
            bytes += livelink::frame(p);
        FrameReader reader;
        QList<QByteArray> frames;
        for (qsizetype i = 0; i < bytes.size(); i += chunk) {
            reader.feed(QByteArrayView(bytes).sliced(i, qMin<qsizetype>(chunk, bytes.size() - i)));
            for (FrameReader::Result r = reader.next(); r.status == FrameReader::Status::Frame;
                 r = reader.next())
                frames.append(r.payload);
        }
        QCOMPARE(frames, payloads);
        QCOMPARE(reader.buffered(), qsizetype(0));
    }

    void badLengths_data()
    {
        QTest::addColumn<quint32>("length");
        QTest::newRow("zero") << 0u;
        QTest::newRow("4097") << 4097u;
        QTest::newRow("huge") << 0xffffffffu;
    }
    // A bad length leaves the stream out of step: the reader must not carry on until cleared.
    void badLengths()
    {
        QFETCH(quint32, length);
        char prefix[4];
        qToBigEndian(length, prefix);
        FrameReader reader;
        reader.feed(livelink::frame("A") + QByteArray(prefix, 4) + livelink::frame("\x01\x01"));
        QCOMPARE(reader.next().payload, QByteArray("A"));
        const FrameReader::Result r = reader.next();
        QCOMPARE(r.status, FrameReader::Status::BadLength);
        QCOMPARE(r.length, length);
        reader.feed(livelink::frame("\x01\x02"));
        QCOMPARE(reader.next().status, FrameReader::Status::BadLength);
        reader.clear();
        reader.feed(livelink::frame("\x01\x02"));
        QCOMPARE(reader.next().payload, QByteArray("\x01\x02"));
    }
};

QTEST_APPLESS_MAIN(TestFrameReader)
#include "tst_framereader.moc"
