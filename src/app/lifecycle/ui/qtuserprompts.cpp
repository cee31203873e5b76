// SPDX-License-Identifier: MIT
#include "qtuserprompts.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

void QtUserPrompts::inform(const QString &message, const QString &informativeText)
{
    ask(message, informativeText, {QStringLiteral("OK")});
}

int QtUserPrompts::ask(const QString &message, const QString &informativeText,
                       const QStringList &buttons)
{
    QMessageBox box(m_parent);
    box.setIcon(QMessageBox::Warning);
    box.setText(message);
    box.setInformativeText(informativeText);
    QList<QAbstractButton *> added;
    for (const QString &title : buttons) {
        // Roles only place the buttons; the answer is the index in buttons.
        const auto role = added.isEmpty() ? QMessageBox::AcceptRole : QMessageBox::RejectRole;
        added.append(box.addButton(title, role));
    }
    if (!added.isEmpty())
        box.setDefaultButton(qobject_cast<QPushButton *>(added.first()));
    box.exec();
    return static_cast<int>(added.indexOf(box.clickedButton()));
}

std::optional<QString> QtUserPrompts::chooseFolder(const QString &title,
                                                   const QString &confirmLabel)
{
    QFileDialog dialog(m_parent, title);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setLabelText(QFileDialog::Accept, confirmLabel);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
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
