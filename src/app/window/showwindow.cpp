// SPDX-License-Identifier: MIT
#include "showwindow.h"

#include "stagerunsplitview.h"
#include "stagerunsvcontroller.h"
#include "stagerunviewcontroller.h"
#include "ui_showwindow.h"

#include <QAction>
#include <QHeaderView>
#include <QTableView>

// Resources of a static library must be registered by hand, outside any namespace.
static void initWindowResources()
{
    Q_INIT_RESOURCE(images);
}

QString showWindowStyleSheet()
{
    // Sizes are for reading from two metres on a dark stage.
    return QStringLiteral(
        "QMainWindow, QWidget#centralwidget { background: #000000; }"
        "QWidget { color: #f2f2f7; font-size: 17px; }"
        "QMenuBar { background: #0b0b0d; color: #c7c7cc; }"
        "QMenuBar::item:selected, QMenu::item:selected { background: #0a84ff; color: white; }"
        "QMenu { background: #1c1c1e; color: #f2f2f7; }"
        "QLabel#serverStatusTextField { font-size: 20px; font-weight: 600; }"
        "QLabel#bpmCaption, QLabel#setTimeCaption, QLabel#songTimeCaption { color: #8e8e93;"
        "  font-size: 15px; font-weight: 600; letter-spacing: 3px; }"
        "QLabel#bpmDisplayField, QLabel#setTimeDisplayField, QLabel#songTimeDisplayField {"
        "  font-size: 60px; font-weight: 700; }"
        "QLabel#songTimeDisplayField { color: #ffd60a; }"
        "QLabel#stopAfterNote { color: #ff453a; font-size: 17px; font-weight: 700;"
        "  letter-spacing: 3px; }"
        "QLabel#bpmDisplayField { color: #64d2ff; }"
        "QLabel#cueModeLabel { color: #8e8e93; font-size: 17px; }"
        "QTableView { background: #111114; color: #f2f2f7; border: 1px solid #2c2c2e;"
        "  border-radius: 10px; font-size: 26px; font-weight: 600;"
        "  selection-background-color: #0a84ff; selection-color: white; outline: 0; }"
        "QTableView::item { padding-left: 14px; border-bottom: 1px solid #1c1c1e; }"
        "QScrollBar:vertical { background: #111114; width: 12px; }"
        "QScrollBar::handle:vertical { background: #3a3a3c; border-radius: 6px; min-height: 40px; }"
        "QScrollBar::add-line, QScrollBar::sub-line { height: 0; }"
        "QPushButton { background: #2c2c2e; color: #f2f2f7; border: 1px solid #3a3a3c;"
        "  border-radius: 10px; padding: 10px 18px; font-size: 18px; font-weight: 600; }"
        "QPushButton:hover { background: #3a3a3c; }"
        "QPushButton:pressed, QPushButton:checked { background: #0a84ff; border-color: #0a84ff; }"
        "QPushButton#sectionButton { padding: 8px 10px; font-size: 17px; }"
        "QPushButton#sectionButton[playing=\"true\"] { background: #0a84ff;"
        "  border-color: #0a84ff; }"
        "QPushButton#sectionButton[pending=\"true\"] { border: 2px solid #ff9500;"
        "  color: #ff9500; }"
        "PressButton { background: #1c1c1e; border: 2px solid #3a3a3c; border-radius: 38px;"
        "  padding: 0; }"
        "PressButton#songpoolPlayButton { border-radius: 30px; }"
        "PressButton:pressed { background: #0a84ff; border-color: #64d2ff; }"
        "QPushButton#removeButton { background: #3a1a1a; border-color: #6e2a2a; }"
        "QPushButton#removeButton:pressed { background: #ff453a; }"
        "QPushButton#addButton { background: #0a3d7a; border-color: #0a84ff; }"
        "QLineEdit { background: #1c1c1e; border: 1px solid #3a3a3c; border-radius: 10px;"
        "  padding: 10px 14px; font-size: 20px; color: #f2f2f7; }"
        "QLineEdit:focus { border-color: #0a84ff; }"
        "QComboBox { background: #2c2c2e; border: 1px solid #3a3a3c; border-radius: 10px;"
        "  padding: 8px 14px; font-size: 18px; font-weight: 600; }"
        "QComboBox::drop-down { border: 0; width: 28px; }"
        "QComboBox QAbstractItemView { background: #1c1c1e; font-size: 18px;"
        "  selection-background-color: #0a84ff; }"
        "QCheckBox { font-size: 16px; spacing: 10px; }"
        "QCheckBox::indicator { width: 40px; height: 22px; border-radius: 11px;"
        "  background: #3a3a3c; }"
        "QCheckBox::indicator:checked { background: #30d158; }"
        "QToolTip { background: #1c1c1e; color: #f2f2f7; border: 1px solid #3a3a3c; }");
}

std::unique_ptr<StageRunMainWindow> createShowWindow(ShowWindowServices &services)
{
    initWindowResources();
    auto window = std::make_unique<StageRunMainWindow>();
    Ui::ShowWindow ui;
    ui.setupUi(window.get());
    window->setStyleSheet(showWindowStyleSheet());

    ui.splitView->setCustomDividerColor(Qt::black);
    ui.splitView->setStretchFactor(0, 3);
    ui.splitView->setStretchFactor(1, 2);
    auto *sv = new StageRunSVController(ui.splitView);

    // Item order: the song pool pane loads last and stays the delegate.
    for (int i = 0; i < sv->itemCount(); ++i) {
        if (StagerunViewController *pane = sv->paneController(i))
            pane->viewDidLoad(services);
    }

    for (QTableView *table :
         {static_cast<QTableView *>(ui.setList), static_cast<QTableView *>(ui.songPool)}) {
        table->verticalHeader()->setDefaultSectionSize(54);
        table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    }

    // Menu commands work from any pane; the delegate pane is always there.
    StagerunViewController *pane = window->delegatePane();
    StageRunMainWindow *w = window.get();
    QObject::connect(ui.actionAbout, &QAction::triggered, pane,
                     &StagerunViewController::orderFrontStandardAboutPanel);
    QObject::connect(ui.actionHelp, &QAction::triggered, pane, &StagerunViewController::showHelp);
    QObject::connect(ui.actionTogglePool, &QAction::triggered, pane,
                     &StagerunViewController::panelToggler);
    QObject::connect(ui.actionQuit, &QAction::triggered, w, &QWidget::close);

    window->restoreWindowState();
    return window;
}
