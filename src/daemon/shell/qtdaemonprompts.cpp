// SPDX-License-Identifier: MIT
#include "qtdaemonprompts.h"

#include <QMessageBox>

void QtDaemonPrompts::showError(const QString &description, const QString &recoverySuggestion)
{
    QMessageBox box;
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.setIcon(QMessageBox::Warning);
    box.setText(description);
    box.setInformativeText(recoverySuggestion);
    box.addButton(QMessageBox::Ok);
    box.exec();
}
