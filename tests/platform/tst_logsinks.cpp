// SPDX-License-Identifier: MIT
#include "log.h"

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

class TestLogSinks : public QObject
{
    Q_OBJECT

private slots:
    // The text and its newline went out as two writes: lines from the probe's pool
    // thread and the main thread mixed mid-line.
    void concurrentLinesStayWhole_data()
    {
        QTest::addColumn<int>("threads");
        QTest::addColumn<int>("lines");
        QTest::newRow("two writers") << 2 << 20000;
        QTest::newRow("eight writers") << 8 << 5000;
    }
    void concurrentLinesStayWhole()
    {
        QFETCH(int, threads);
        QFETCH(int, lines);
        QProcess flood;
        flood.start(QStringLiteral(MARQUELL_LOGFLOOD),
                    {QString::number(threads), QString::number(lines)});
        QVERIFY(flood.waitForFinished(60000));
        QCOMPARE(flood.exitCode(), 0);
        const QList<QByteArray> out = flood.readAllStandardOutput().split('\n');
        QCOMPARE(out.size(), threads * lines + 1); // the last newline leaves an empty tail
        static const QRegularExpression whole(QStringLiteral("^writer \\d+ line \\d+ end$"));
        QStringList broken;
        for (const QByteArray &line : out.first(out.size() - 1))
            if (!whole.match(QString::fromUtf8(line)).hasMatch() && broken.size() < 3)
                broken << QString::fromUtf8(line);
        QCOMPARE(broken, QStringList());
    }
};

QTEST_GUILESS_MAIN(TestLogSinks)
#include "tst_logsinks.moc"
