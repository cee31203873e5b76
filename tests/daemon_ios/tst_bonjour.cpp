// SPDX-License-Identifier: MIT
// Real DNS-SD: needs the private Avahi daemon that scripts/test starts.
#include "dnssdadvertiser.h"
#include "log.h"
#include "phonerig.h"

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

namespace {

// "name;port;txt" of each resolved "_marquell._tcp" service, as another machine would
// see it; avahi-browse writes "\032" style decimal escapes in names.
QStringList browse()
{
    QProcess process;
    process.start(QStringLiteral("avahi-browse"),
                  {QStringLiteral("-rpt"), QStringLiteral("_marquell._tcp")});
    if (!process.waitForFinished(10000))
        return {};
    static const QRegularExpression escape(QStringLiteral("\\\\(\\d{3})"));
    QStringList found;
    const QList<QByteArray> lines = process.readAllStandardOutput().split('\n');
    for (const QByteArray &line : lines) {
        const QStringList fields = QString::fromUtf8(line).split(u';');
        if (fields.size() < 10 || fields[0] != u'=')
            continue;
        QString name = fields[3];
        for (QRegularExpressionMatch match; (match = escape.match(name)).hasMatch();)
            name.replace(match.capturedStart(), 4, QChar(match.captured(1).toInt()));
        found << QStringList{name, fields[8], fields[9]}.join(u';');
    }
    return found;
}

using AdvertisedRig = PhoneRigWith<DnsSdAdvertiser>;

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

    // The phone-link tool finds the daemon as a phone would, and connects. Avahi refuses
    // a taken name instead of renaming: a second daemon takes the next free one.
    void phonelinkFindsTheDaemonAndATakenNameIsRenamed()
    {
        AdvertisedRig rig;
        QSignalSpy advertised(&rig.advertiser, &ServiceAdvertiser::advertised);
        QVERIFY(rig.listen());
        QTRY_COMPARE_WITH_TIMEOUT(advertised.count(), 1, 10000);
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

        mlog::Capture log;
        AdvertisedRig second;
        QSignalSpy renamed(&second.advertiser, &ServiceAdvertiser::advertised);
        QVERIFY(second.listen());
        QTRY_COMPARE_WITH_TIMEOUT(renamed.count(), 1, 10000);
        QCOMPARE(renamed.first().at(0).toString(), QStringLiteral("Marquell (2)"));
        QVERIFY(log.systemLines().contains(
            QStringLiteral("iOSSocket: advertised as \"Marquell (2)\"")));
        const QString seen = QStringLiteral("Marquell (2);%1;\"hostname=%2\"")
                                 .arg(second.phone.listeningPort())
                                 .arg(second.phone.deviceName());
        QTRY_VERIFY_WITH_TIMEOUT(browse().contains(seen), 8000);
    }
};

QTEST_GUILESS_MAIN(TestBonjour)
#include "tst_bonjour.moc"
