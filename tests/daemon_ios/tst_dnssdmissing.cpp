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
        iOSSocket &phone = rig.phone;
        QSignalSpy &published = rig.published;
        rig.settings.setValue(QStringLiteral("iosListenerPort"), ScriptedLiveServer::closedPort());
        phone.startAdvertising(QStringLiteral("Marquell"), QStringLiteral("_marquell._tcp"));
        QTRY_VERIFY(!published.isEmpty() &&
                    !published.last().at(0).value<PublisherState>().note.isEmpty());
        phone.setListenPort(ScriptedLiveServer::closedPort());
        QTRY_COMPARE(published.last().at(0).value<PublisherState>().port, phone.listeningPort());
        QVERIFY(!published.last().at(0).value<PublisherState>().note.isEmpty());
        const QStringList unavailable =
            log.systemLines().filter(QStringLiteral("iOSSocket: DNS-SD is not available"));
        QCOMPARE(unavailable.size(), 1);
        PhoneClient client;
        QVERIFY(client.connectTo(phone.listeningPort()));
        QTRY_VERIFY(phone.hasClient());
    }
};

QTEST_GUILESS_MAIN(TestDnsSdMissing)
#include "tst_dnssdmissing.moc"
