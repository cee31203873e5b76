// SPDX-License-Identifier: MIT
#include "appearance.h"

#include "appdelegate.h"

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QPalette>
#include <QStyleFactory>

void applyDarkAppearance()
{
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QPalette p;
    const QColor window(0x2b, 0x2b, 0x2b);
    const QColor base(0x1e, 0x1e, 0x1e);
    const QColor text(0xe6, 0xe6, 0xe6);
    const QColor disabledText(0x7f, 0x7f, 0x7f);
    const QColor accent(0x2f, 0x7b, 0xd8);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, disabledText);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, window);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::red);
    p.setColor(QPalette::Link, accent);
    p.setColor(QPalette::Highlight, accent);
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Light, QColor(0x3c, 0x3c, 0x3c));
    p.setColor(QPalette::Midlight, QColor(0x34, 0x34, 0x34));
    p.setColor(QPalette::Mid, QColor(0x24, 0x24, 0x24));
    p.setColor(QPalette::Dark, QColor(0x18, 0x18, 0x18));
    p.setColor(QPalette::Shadow, Qt::black);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, disabledText);
    QApplication::setPalette(p);
}

QMenuBar *createApplicationMenu(AppDelegate &delegate)
{
    auto *bar = new QMenuBar(nullptr);
    QMenu *file = bar->addMenu(QObject::tr("&File"));
    QAction *save = file->addAction(QObject::tr("&Save"));
    save->setShortcut(QKeySequence::Save);
    QObject::connect(save, &QAction::triggered, &delegate, &AppDelegate::saveAction);
    file->addSeparator();
    QAction *quit = file->addAction(QObject::tr("&Quit Marquell"));
    quit->setShortcut(QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);
    QObject::connect(quit, &QAction::triggered, &delegate, &AppDelegate::requestQuit);
    return bar;
}
