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
    // TempHome writes where the Remote Script does, so a wrong path fails every row.
    void readers_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file; "/": a folder in its place
        QTest::addColumn<int>("appPort");        // -1: none, the caller uses 6000
        QTest::addColumn<int>("daemonPort");
        auto row = [](const char *name, const QByteArray &content, int app, int daemon) {
            QTest::newRow(name) << content << app << daemon;
        };
        row("6100", "{\"port\": 6100}", 6100, 6100);
        row("other members ignored", "{\"pid\": 3, \"port\": 6001}", 6001, 6001);
        row("integral float", "{\"port\": 6100.0}", 6100, 6100);
        row("zero", "{\"port\": 0}", -1, 0);
        row("65535", "{\"port\": 65535}", 65535, 65535);
        row("70000", "{\"port\": 70000}", -1, 6000);
        row("negative", "{\"port\": -1}", -1, 6000);
        row("fraction", "{\"port\": 6100.5}", -1, 6000);
        row("text", "{\"port\": \"6100\"}", -1, 6000);
        row("missing member", "{\"Port\": 6100}", -1, 6000);
        row("array at top", "[6100]", -1, 6000);
        row("not json", "port=6100", -1, 6000);
        row("huge number", "{\"port\": 1e300}", -1, 6000);
        // Valid JSON within the first 64 KiB: only the size limit refuses it.
        row("oversized", "{\"port\": 6100}" + QByteArray(70000, ' '), -1, 6000);
        row("no file", QByteArray(), -1, 6000);
        row("a folder in its place", "/", -1, 6000);
    }
    void readers()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, appPort);
        QFETCH(int, daemonPort);
        TempHome home;
        if (content == "/")
            QVERIFY(QDir().mkpath(serverConfigPath()));
        else if (!content.isNull())
            home.writeServerJson(content);
        QCOMPARE(readServerPort(serverConfigPath()).value_or(-1), appPort);
        QCOMPARE(int(readDaemonServerPort(serverConfigPath())), daemonPort);
    }
};

QTEST_GUILESS_MAIN(TestServerPortFile)
#include "tst_serverportfile.moc"
