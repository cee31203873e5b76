// SPDX-License-Identifier: MIT
#include "midiportid.h"

#include <QTest>

class TestMidiPortId final : public QObject
{
    Q_OBJECT

private slots:
    void idsFollowNamesNotPositions_data();
    void idsFollowNamesNotPositions();
    void reservedValuesNeverGiven_data();
    void reservedValuesNeverGiven();
};

void TestMidiPortId::idsFollowNamesNotPositions_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<bool>("alsa");
    QTest::addColumn<QStringList>("keys"); // the name each ID must be derived from

    QTest::newRow("jack ports") << QStringList{"system:midi_capture_1", "Pedal:out"} << false
                                << QStringList{"system:midi_capture_1", "Pedal:out"};
    // ALSA renumbers a replugged device; the numbers must not change its ID.
    QTest::newRow("alsa numbers dropped")
        << QStringList{"Pedal:Pedal MIDI 1 20:0", "Pedal:Pedal MIDI 1 24:0"} << true
        << QStringList{"Pedal:Pedal MIDI 1", "Pedal:Pedal MIDI 1#2"};
    QTest::newRow("numbers kept off alsa")
        << QStringList{"Pad 20:0"} << false << QStringList{"Pad 20:0"};
    // Two identical controllers must stay apart.
    QTest::newRow("duplicates") << QStringList{"Twin", "Other", "Twin", "Twin"} << false
                                << QStringList{"Twin", "Other", "Twin#2", "Twin#3"};
}

void TestMidiPortId::idsFollowNamesNotPositions()
{
    QFETCH(QStringList, names);
    QFETCH(bool, alsa);
    QFETCH(QStringList, keys);

    const QList<MidiSourceInfo> sources = midiportid::identify(names, alsa);
    QCOMPARE(sources.size(), names.size());
    QSet<qint32> distinct;
    for (int i = 0; i < sources.size(); ++i) {
        QCOMPARE(sources[i].index, i);
        QCOMPARE(sources[i].uniqueID, midiportid::forName(keys[i]));
        distinct.insert(sources[i].uniqueID);
    }
    QCOMPARE(distinct.size(), sources.size());
}

void TestMidiPortId::reservedValuesNeverGiven_data()
{
    QTest::addColumn<QString>("name");
    // Names found offline whose plain 32-bit FNV-1a is exactly 0 and 0xFFFFFFFF.
    QTest::newRow("hashes to 0") << QStringLiteral("port76935729:");
    QTest::newRow("hashes to -1") << QStringLiteral("port43110192X");
}

// 0 reads as a failed lookup and -1 as "none": such names must get another, stable ID.
void TestMidiPortId::reservedValuesNeverGiven()
{
    QFETCH(QString, name);
    const qint32 id = midiportid::forName(name);
    QVERIFY2(id != 0 && id != -1, qPrintable(QString::number(id)));
    QCOMPARE(midiportid::forName(name), id);
}

QTEST_GUILESS_MAIN(TestMidiPortId)
#include "tst_midiportid.moc"
