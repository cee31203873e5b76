// SPDX-License-Identifier: MIT
#include "qtuserprompts.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace {

// Roles only place the buttons; the answer is the index in buttons.
QList<QAbstractButton *> addButtons(QMessageBox &box, const QStringList &buttons)
{
    QList<QAbstractButton *> added;
    for (const QString &title : buttons) {
        const auto role = added.isEmpty() ? QMessageBox::AcceptRole : QMessageBox::RejectRole;
        added.append(box.addButton(title, role));
    }
    if (!added.isEmpty())
        box.setDefaultButton(qobject_cast<QPushButton *>(added.first()));
    return added;
}

QMessageBox *openAlert(QWidget *parent, QMessageBox::Icon icon, const QString &message,
                       const QString &informativeText)
{
    auto *box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(icon);
    box->setText(message);
    box->setInformativeText(informativeText);
    return box;
}

} // namespace

void QtUserPrompts::inform(Tone tone, const QString &message, const QString &informativeText)
{
    QMessageBox *box = openAlert(
        m_parent, tone == Tone::Information ? QMessageBox::Information : QMessageBox::Warning,
        message, informativeText);
    addButtons(*box, {QStringLiteral("OK")});
    box->open();
}

int QtUserPrompts::ask(const QString &message, const QString &informativeText,
                       const QStringList &buttons)
{
    QMessageBox box(m_parent);
    box.setIcon(QMessageBox::Warning);
    box.setText(message);
    box.setInformativeText(informativeText);
    const QList<QAbstractButton *> added = addButtons(box, buttons);
    box.exec();
    return static_cast<int>(added.indexOf(box.clickedButton()));
}

void QtUserPrompts::askLater(const QString &message, const QString &informativeText,
                             const QStringList &buttons, Answered answered)
{
    QMessageBox *box = openAlert(m_parent, QMessageBox::Warning, message, informativeText);
    const QList<QAbstractButton *> added = addButtons(*box, buttons);
    QObject::connect(box, &QDialog::finished, box, [box, added, answered = std::move(answered)] {
        answered(static_cast<int>(added.indexOf(box->clickedButton())));
    });
    box->open();
}

void QtUserPrompts::chooseFolder(const QString &title, const QString &confirmLabel, Chosen chosen)
{
    auto *dialog = new QFileDialog(m_parent, title);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly, true);
    dialog->setLabelText(QFileDialog::Accept, confirmLabel);
    QObject::connect(dialog, &QDialog::finished, dialog,
                     [dialog, chosen = std::move(chosen)](int result) {
                         const QStringList files = dialog->selectedFiles();
                         if (result != QDialog::Accepted || files.isEmpty())
                             chosen(std::nullopt);
                         else
                             chosen(files.constFirst());
                     });
    dialog->open();
}

bool QtUserPrompts::presentError(const QString &description)
{
    QMessageBox box(m_parent);
    box.setIcon(QMessageBox::Critical);
    box.setText(description);
    box.addButton(QMessageBox::Ok);
    box.exec();
    return false; // nothing offers a recovery
}
