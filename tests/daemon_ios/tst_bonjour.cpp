// SPDX-License-Identifier: MIT
// Real DNS-SD: needs the private Avahi daemon that scripts/test starts.
#include "dnssdadvertiser.h"
#include "log.h"
#include "phonerig.h"

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

namespace {

struct Browsed
{
    QString name;
    quint16 port = 0;
    QString txt;
};

// avahi-browse writes "\032" for a space and "\040" style escapes for the rest.
QString unescape(QString text)
{
    static const QRegularExpression escape(QStringLiteral("\\\\(\\d{3})"));
    QRegularExpressionMatch match;
    while ((match = escape.match(text)).hasMatch())
        text.replace(match.capturedStart(), 4, QChar(match.captured(1).toInt()));
    return text;
}

// The resolved "_marquell._tcp" services, as another machine would see them.
QList<Browsed> browse()
{
    QProcess process;
    process.start(QStringLiteral("avahi-browse"),
                  {QStringLiteral("-rpt"), QStringLiteral("_marquell._tcp")});
    if (!process.waitForFinished(10000))
        return {};
    QList<Browsed> found;
    const QList<QByteArray> lines = process.readAllStandardOutput().split('\n');
    for (const QByteArray &line : lines) {
        const QStringList fields = QString::fromUtf8(line).split(u';');
        if (fields.size() >= 10 && fields[0] == u'=')
            found.append({unescape(fields[3]), quint16(fields[8].toUInt()), fields[9]});
    }
    return found;
}

bool isBrowsed(const QString &name, quint16 port, const QString &txt)
{
    for (const Browsed &service : browse())
        if (service.name == name && service.port == port && service.txt == txt)
            return true;
    return false;
}

struct AdvertisedRig : PhoneRigWith<DnsSdAdvertiser>
{
    AdvertisedRig()
    {
        settings.setValue(QStringLiteral("iosListenerPort"), ScriptedLiveServer::closedPort());
    }
    QSignalSpy advertised{&advertiser, &ServiceAdvertiser::advertised};
};

} // namespace

class TestBonjour : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (qgetenv("MARQUELL_AVAHI") != "1")
            QSKIP("no private Avahi daemon here (scripts/test starts one where Avahi can run)");
    }

    // The phone-link tool finds the daemon as a phone would, and connects.
    void phonelinkFindsTheDaemon()
    {
        AdvertisedRig rig;
        rig.phone.startAdvertising(QStringLiteral("Marquell"), QStringLiteral("_marquell._tcp"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.advertised.count(), 1, 10000);
        QProcess tool;
        tool.start(QStringLiteral(PHONELINK_BINARY),
                   {QStringLiteral("--browse"), QStringLiteral("--seconds"), QStringLiteral("1")});
        QTRY_VERIFY_WITH_TIMEOUT(tool.state() == QProcess::NotRunning, 10000);
        const QString printed = QString::fromUtf8(tool.readAllStandardOutput());
        const QString at = QStringLiteral("127.0.0.1:%1").arg(rig.phone.listeningPort());
        QVERIFY2(printed.contains(QStringLiteral("found \"Marquell\" (hostname %1) at %2")
                                      .arg(rig.phone.deviceName(), at)),
                 qPrintable(printed));
        QVERIFY2(printed.contains(QStringLiteral("connected to ") + at), qPrintable(printed));
    }

    // Avahi refuses a taken name instead of renaming: the next free one is used.
    void takenNameRenamed()
    {
        mlog::Capture log;
        DnsSdAdvertiser first;
        QSignalSpy firstAdvertised(&first, &ServiceAdvertiser::advertised);
        first.advertise({QStringLiteral("Marquell"), QStringLiteral("_marquell._tcp"), 9,
                         QStringLiteral("other")});
        QTRY_COMPARE_WITH_TIMEOUT(firstAdvertised.count(), 1, 10000);

        AdvertisedRig rig;
        rig.phone.startAdvertising(QStringLiteral("Marquell"), QStringLiteral("_marquell._tcp"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.advertised.count(), 1, 10000);
        QCOMPARE(rig.advertised.first().at(0).toString(), QStringLiteral("Marquell (2)"));
        QVERIFY(log.systemLines().contains(
            QStringLiteral("iOSSocket: advertised as \"Marquell (2)\"")));
        QTRY_VERIFY_WITH_TIMEOUT(
            isBrowsed(QStringLiteral("Marquell (2)"), rig.phone.listeningPort(),
                      QStringLiteral("\"hostname=%1\"").arg(rig.phone.deviceName())),
            8000);
    }
};

QTEST_GUILESS_MAIN(TestBonjour)
#include "tst_bonjour.moc"
