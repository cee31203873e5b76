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
        if (QWidget *modal = QApplication::activeModalWidget())
            action(modal);
        else
            whenModal(action);
    });
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
        QString seen;
        whenModal([&](QWidget *w) {
            auto *box = qobject_cast<QMessageBox *>(w);
            seen = box->text() + " / " + box->informativeText();
            for (QAbstractButton *b : box->buttons()) {
                if (b->text() == press)
                    b->click();
            }
            if (press.isEmpty())
                QTest::keyClick(box, Qt::Key_Escape);
        });
        const int answer =
            QtUserPrompts().ask(QStringLiteral("Message"), QStringLiteral("Details"),
                                {QStringLiteral("Quit anyway"), QStringLiteral("Cancel")});
        QCOMPARE(answer, index);
        QCOMPARE(seen, QStringLiteral("Message / Details"));
    }

    void chooseFolderOffersFoldersOnly_data()
    {
        QTest::addColumn<bool>("accept");
        QTest::newRow("chosen") << true;
        QTest::newRow("cancelled") << false;
    }
    void chooseFolderOffersFoldersOnly()
    {
        QFETCH(bool, accept);
        QTemporaryDir dir;
        QString seen;
        whenModal([&](QWidget *w) {
            auto *dialog = qobject_cast<QFileDialog *>(w);
            seen = dialog->windowTitle() + " / " + dialog->labelText(QFileDialog::Accept) +
                   (dialog->fileMode() == QFileDialog::Directory ? " / folders" : " / files");
            dialog->setDirectory(dir.path());
            dialog->selectFile(dir.path());
            if (accept)
                static_cast<QDialog *>(dialog)->accept();
            else
                dialog->reject();
        });
        const std::optional<QString> chosen = QtUserPrompts().chooseFolder(
            QStringLiteral("Select a folder"), QStringLiteral("Use This Folder"));
        QCOMPARE(seen, QStringLiteral("Select a folder / Use This Folder / folders"));
        QCOMPARE(chosen, accept ? std::optional<QString>(dir.path()) : std::nullopt);
    }
};

QTEST_MAIN(TestQtUserPrompts)
#include "tst_qtuserprompts.moc"
