// SPDX-License-Identifier: MIT
#include "serverportfile.h"
#include "temphome.h"

#include <QDir>
#include <QtTest>

using namespace serverportfile;

class TestServerPortFile : public QObject
{
    Q_OBJECT

private slots:
    void pathIsUnderTheHomeFolder()
    {
        TempHome home;
        QCOMPARE(serverConfigPath(),
                 home.path() + "/Library/Application Support/Marquell/server.json");
    }

    void readers_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("appPort"); // -1: none, the caller uses 6000
        QTest::addColumn<int>("daemonPort");
        QTest::newRow("6100") << QByteArray("{\"port\": 6100}") << 6100 << 6100;
        QTest::newRow("other members ignored")
            << QByteArray("{\"pid\": 3, \"port\": 6001}") << 6001 << 6001;
        QTest::newRow("integral float") << QByteArray("{\"port\": 6100.0}") << 6100 << 6100;
        QTest::newRow("zero") << QByteArray("{\"port\": 0}") << -1 << 0;
        QTest::newRow("65535") << QByteArray("{\"port\": 65535}") << 65535 << 65535;
        QTest::newRow("70000") << QByteArray("{\"port\": 70000}") << -1 << 6000;
        QTest::newRow("negative") << QByteArray("{\"port\": -1}") << -1 << 6000;
        QTest::newRow("fraction") << QByteArray("{\"port\": 6100.5}") << -1 << 6000;
        QTest::newRow("text") << QByteArray("{\"port\": \"6100\"}") << -1 << 6000;
        QTest::newRow("null") << QByteArray("{\"port\": null}") << -1 << 6000;
        QTest::newRow("missing member") << QByteArray("{\"Port\": 6100}") << -1 << 6000;
        QTest::newRow("array at top") << QByteArray("[6100]") << -1 << 6000;
        QTest::newRow("not json") << QByteArray("port=6100") << -1 << 6000;
        QTest::newRow("empty file") << QByteArray() << -1 << 6000;
        QTest::newRow("truncated") << QByteArray("{\"port\": 61") << -1 << 6000;
        QTest::newRow("huge number") << QByteArray("{\"port\": 1e300}") << -1 << 6000;
    }
    void readers()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, appPort);
        QFETCH(int, daemonPort);
        TempHome home;
        home.writeServerJson(content);
        QCOMPARE(readServerPort(serverConfigPath()).value_or(-1), appPort);
        QCOMPARE(int(readDaemonServerPort(serverConfigPath())), daemonPort);
    }

    void missingOrUnreadableFile()
    {
        TempHome home;
        QVERIFY(!readServerPort(serverConfigPath()));
        QCOMPARE(readDaemonServerPort(serverConfigPath()), quint16(6000));
        // A folder where the file should be.
        QDir().mkpath(serverConfigPath());
        QVERIFY(!readServerPort(serverConfigPath()));
        QCOMPARE(readDaemonServerPort(serverConfigPath()), quint16(6000));
    }

    void oversizedFileIsRefused()
    {
        TempHome home;
        home.writeServerJson("{\"port\": 6100, \"pad\": \"" + QByteArray(100000, 'x') + "\"}");
        QVERIFY(!readServerPort(serverConfigPath()));
    }

    void readAfreshEachTime()
    {
        TempHome home;
        home.writeServerJson("{\"port\": 6100}");
        QCOMPARE(readServerPort(serverConfigPath()).value_or(-1), 6100);
        home.writeServerJson("{\"port\": 6200}");
        QCOMPARE(readServerPort(serverConfigPath()).value_or(-1), 6200);
        home.removeServerJson();
        QVERIFY(!readServerPort(serverConfigPath()));
    }
};

QTEST_GUILESS_MAIN(TestServerPortFile)
#include "tst_serverportfile.moc"
