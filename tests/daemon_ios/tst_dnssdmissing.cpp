// SPDX-License-Identifier: MIT
// Run with a system bus address that leads nowhere: no DNS-SD daemon answers.
#include "dnssdadvertiser.h"
#include "log.h"
#include "phonerig.h"

#include <QtTest>

class TestDnsSdMissing : public QObject
{
    Q_OBJECT

private slots:
    // Logged once, however often the listener is made again; the phone is still served.
    void listenerServesUnadvertised()
    {
        mlog::Capture log;
        PhoneRigWith<DnsSdAdvertiser> rig;
        QVERIFY(rig.listen());
        QVERIFY(!rig.lastPublished().note.isEmpty());
        rig.phone.setListenPort(ScriptedLiveServer::closedPort());
        QTRY_COMPARE(rig.lastPublished().port, rig.phone.listeningPort());
        QVERIFY(!rig.lastPublished().note.isEmpty());
        QCOMPARE(log.systemLines().filter("iOSSocket: DNS-SD is not available").size(), 1);
        QVERIFY(rig.connectPhone());
    }
};

QTEST_GUILESS_MAIN(TestDnsSdMissing)
#include "tst_dnssdmissing.moc"
