// SPDX-License-Identifier: MIT
#include "listenport.h"
#include "portmenuitemview.h"
#include "statuscolors.h"
#include "temphome.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QtTest>

class TestPortMenuItemView : public QObject
{
    Q_OBJECT

private slots:
    void entries_data()
    {
        QTest::addColumn<QVariant>("stored"); // invalid: nothing stored
        QTest::addColumn<QString>("entry");
        QTest::addColumn<int>("accepted"); // -1: refused
        QTest::addColumn<QString>("fieldAfterRefusal");
        const QVariant none;
        QTest::newRow("1023") << none << "1023" << -1 << "51515";
        QTest::newRow("1024") << none << "1024" << 1024 << "";
        QTest::newRow("65535") << none << "65535" << 65535 << "";
        QTest::newRow("65536") << none << "65536" << -1 << "51515";
        QTest::newRow("blanks around") << none << " 9000\t" << 9000 << "";
        QTest::newRow("plus sign") << none << "+9000" << 9000 << "";
        QTest::newRow("leading zeros") << none << "009000" << 9000 << "";
        QTest::newRow("empty") << none << "" << -1 << "51515";
        QTest::newRow("letters") << none << "port" << -1 << "51515";
        QTest::newRow("line end is not a blank") << none << "9000\n" << -1 << "51515";
        QTest::newRow("minus") << none << "-9000" << -1 << "51515";
        QTest::newRow("huge") << none << "99999999999999999999" << -1 << "51515";
        QTest::newRow("refusal restores the stored port") << QVariant(9100) << "80" << -1 << "9100";
        QTest::newRow("stored 0 means the default") << QVariant(0) << "x" << -1 << "51515";
        QTest::newRow("stored too big means the default")
            << QVariant(70000) << "x" << -1 << "51515";
    }
    void entries()
    {
        QFETCH(QVariant, stored);
        QFETCH(QString, entry);
        QFETCH(int, accepted);
        QFETCH(QString, fieldAfterRefusal);
        TempHome home;
        QSettings settings;
        if (stored.isValid())
            settings.setValue(listenport::settingKey, stored);
        PortMenuItemView view(settings);
        QList<quint16> applied;
        view.setOnApply([&](quint16 port) { applied.append(port); });
        view.setStatus(QStringLiteral("Listening on 51515"), statuscolors::grey);
        view.field()->setText(entry);
        view.apply();
        if (accepted >= 0) {
            QCOMPARE(applied, QList<quint16>{quint16(accepted)});
            // The listener's report changes the line, not the entry itself.
            QCOMPARE(view.field()->text(), entry);
            QCOMPARE(view.statusLabel()->text(), QStringLiteral("Listening on 51515"));
        } else {
            QCOMPARE(applied, QList<quint16>());
            QCOMPARE(view.field()->text(), fieldAfterRefusal);
            QCOMPARE(view.statusLabel()->text(),
                     QStringLiteral("Enter a port between 1024 and 65535"));
            QCOMPARE(view.statusLabel()->palette().color(QPalette::WindowText),
                     statuscolors::systemRed);
        }
    }

    void returnAndApplyButtonBothApply()
    {
        TempHome home;
        QSettings settings;
        PortMenuItemView view(settings);
        QCOMPARE(view.field()->text(), QStringLiteral("51515"));
        QList<quint16> applied;
        view.setOnApply([&](quint16 port) { applied.append(port); });
        view.field()->setText(QStringLiteral("9000"));
        QTest::keyClick(view.field(), Qt::Key_Return);
        view.field()->setText(QStringLiteral("9001"));
        QTest::mouseClick(view.applyButton(), Qt::LeftButton);
        QCOMPARE(applied, (QList<quint16>{9000, 9001}));
    }
};

QTEST_MAIN(TestPortMenuItemView)
#include "tst_portmenuitemview.moc"
