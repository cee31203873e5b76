// SPDX-License-Identifier: MIT
#include "qtuserprompts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>

namespace {

// Runs action on the modal dialog once it is up.
void whenModal(std::function<void(QWidget *)> action)
{
    QTimer::singleShot(0, [action] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal) {
            whenModal(action);
            return;
        }
        action(modal);
    });
}

QAbstractButton *buttonTitled(QMessageBox *box, const QString &title)
{
    for (QAbstractButton *b : box->buttons())
        if (b->text() == title)
            return b;
    return nullptr;
}

} // namespace

class TestQtUserPrompts : public QObject
{
    Q_OBJECT

private slots:
    void askAnswersTheIndexOfThePressedButton_data()
    {
        QTest::addColumn<QString>("press"); // empty: dismiss with Escape
        QTest::addColumn<int>("index");
        QTest::newRow("first") << QStringLiteral("Quit anyway") << 0;
        QTest::newRow("second") << QStringLiteral("Cancel") << 1;
        // Escape picks the safe second button, never "Quit anyway".
        QTest::newRow("escape") << QString() << 1;
    }
    void askAnswersTheIndexOfThePressedButton()
    {
        QFETCH(QString, press);
        QFETCH(int, index);
        QString seenText, seenInfo;
        QStringList seenButtons;
        whenModal([&](QWidget *w) {
            auto *box = qobject_cast<QMessageBox *>(w);
            QVERIFY(box);
            seenText = box->text();
            seenInfo = box->informativeText();
            for (QAbstractButton *b : box->buttons())
                seenButtons << b->text();
            if (press.isEmpty())
                QTest::keyClick(box, Qt::Key_Escape);
            else
                buttonTitled(box, press)->click();
        });
        QtUserPrompts prompts;
        const int answer = prompts.ask(QStringLiteral("Message"), QStringLiteral("Details"),
                                       {QStringLiteral("Quit anyway"), QStringLiteral("Cancel")});
        QCOMPARE(answer, index);
        QCOMPARE(seenText, QStringLiteral("Message"));
        QCOMPARE(seenInfo, QStringLiteral("Details"));
        seenButtons.sort();
        QCOMPARE(seenButtons,
                 (QStringList{QStringLiteral("Cancel"), QStringLiteral("Quit anyway")}));
    }

    void chooseFolderOffersFoldersOnly()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QString title, accept;
        QFileDialog::FileMode mode = QFileDialog::AnyFile;
        whenModal([&](QWidget *w) {
            auto *dialog = qobject_cast<QFileDialog *>(w);
            QVERIFY(dialog);
            title = dialog->windowTitle();
            accept = dialog->labelText(QFileDialog::Accept);
            mode = dialog->fileMode();
            dialog->setDirectory(dir.path());
            dialog->selectFile(dir.path());
            static_cast<QDialog *>(dialog)->accept();
        });
        const std::optional<QString> chosen = QtUserPrompts().chooseFolder(
            QStringLiteral("Select a folder"), QStringLiteral("Use This Folder"));
        QCOMPARE(title, QStringLiteral("Select a folder"));
        QCOMPARE(accept, QStringLiteral("Use This Folder"));
        QCOMPARE(mode, QFileDialog::Directory);
        QCOMPARE(chosen.value_or(QString()), dir.path());
    }

    void cancelledChooserGivesNone()
    {
        whenModal([](QWidget *w) { qobject_cast<QDialog *>(w)->reject(); });
        QCOMPARE(QtUserPrompts().chooseFolder(QStringLiteral("t"), QStringLiteral("c")),
                 std::nullopt);
    }
};

QTEST_MAIN(TestQtUserPrompts)
#include "tst_qtuserprompts.moc"
