// SPDX-License-Identifier: MIT
#include "popupviewcontroller.h"

#include "mappingcell.h"
#include "midimanager.h"
#include "transportmappings.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

PopUpViewController::PopUpViewController(MIDIManager &manager, QWidget *parent)
    : QWidget(parent), m_manager(manager)
{
    buildInterface();
    m_manager.setSelectedMappingTag(-1);
    connect(&m_manager, &MIDIManager::sourcesUpdated, this,
            &PopUpViewController::updateMIDIDropdown);
    connect(&m_manager.mappings(), &TransportMappings::midiMappingDidUpdate, this,
            &PopUpViewController::refreshTiles);
    connect(&m_manager, &MIDIManager::mappingDataReceived, this,
            [this](const MappingData &mapping, int tag) {
                if (MappingCell *c = cell(tag))
                    c->configure(mapping);
            });
    updateMIDIDropdown();
    refreshTiles();
    refreshSelection();
}

QPushButton *PopUpViewController::makeButton(const QString &title)
{
    auto *button = new QPushButton(title, this);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

void PopUpViewController::buildInterface()
{
    setObjectName(QStringLiteral("midiMapContent"));
    auto *portLabel = new QLabel(QStringLiteral("MIDI PORT"), this);
    portLabel->setObjectName(QStringLiteral("portLabel"));
    portLabel->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    m_midiInputSelect = new QComboBox(this);
    m_midiInputSelect->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(m_midiInputSelect, &QComboBox::activated, this,
            &PopUpViewController::midiInputIsSelected);
    auto *portRow = new QHBoxLayout;
    portRow->setSpacing(10);
    portRow->addWidget(portLabel, 0, Qt::AlignVCenter);
    portRow->addWidget(m_midiInputSelect, 1, Qt::AlignVCenter);

    auto *tileRow = new QHBoxLayout;
    tileRow->setSpacing(7);
    const std::pair<int, const char *> tiles[] = {
        {1, "play"}, {2, "stop (1)"}, {3, "prev"}, {4, "next (1)"}};
    for (const auto &[tag, image] : tiles) {
        auto *tile = new MappingCell(tag, QLatin1String(image), this);
        connect(tile, &MappingCell::clicked, this, &PopUpViewController::selectMappingButton);
        tileRow->addWidget(tile, 1);
        m_cells.insert(tag, tile);
    }

    auto *hint = new QLabel(
        QStringLiteral("Pick a transport, then play the control you want to use."), this);
    hint->setObjectName(QStringLiteral("hintLabel"));
    hint->setAlignment(Qt::AlignCenter);

    m_clearAll = makeButton(QStringLiteral("Clear All"));
    m_clearAll->setObjectName(QStringLiteral("clearAllButton"));
    m_remove = makeButton(QStringLiteral("Remove"));
    m_apply = makeButton(QStringLiteral("Apply Mappings"));
    m_apply->setObjectName(QStringLiteral("applyButton"));
    m_apply->setShortcut(QKeySequence(Qt::Key_Return));
    connect(m_clearAll, &QPushButton::clicked, this, &PopUpViewController::clearAllPressed);
    connect(m_remove, &QPushButton::clicked, this, &PopUpViewController::removeMapping);
    connect(m_apply, &QPushButton::clicked, this, &PopUpViewController::applyChangesPressed);
    auto *buttonRow = new QHBoxLayout;
    buttonRow->setSpacing(8);
    buttonRow->addWidget(m_clearAll);
    buttonRow->addStretch(1);
    buttonRow->addWidget(m_remove);
    buttonRow->addWidget(m_apply);

    auto *rows = new QVBoxLayout(this);
    rows->setContentsMargins(17, 17, 17, 17);
    rows->setSpacing(14);
    rows->addLayout(portRow);
    rows->addLayout(tileRow);
    rows->addWidget(hint);
    rows->addLayout(buttonRow);

    setStyleSheet(QStringLiteral(
        "QWidget#midiMapContent { background: #1c1c1e; }"
        "QWidget { color: #f2f2f7; }"
        "QLabel#portLabel { font-size: 9pt; font-weight: 500; color: rgba(235, 235, 245, 0.6); }"
        "QLabel#hintLabel { font-size: 10pt; color: rgba(235, 235, 245, 0.3); }"
        "QComboBox { background: #2c2c2e; border: 1px solid #3a3a3c; border-radius: 6px;"
        "  padding: 4px 10px; font-size: 12pt; }"
        "QComboBox QAbstractItemView { background: #1c1c1e; selection-background-color: #0a84ff; }"
        "QPushButton { background: #2c2c2e; border: 1px solid #3a3a3c; border-radius: 6px;"
        "  padding: 5px 14px; font-size: 12pt; }"
        "QPushButton:pressed { background: #0a84ff; border-color: #0a84ff; }"
        "QPushButton#clearAllButton { color: #ff9f0a; }"
        "QPushButton#applyButton { background: #0a3d7a; border-color: #0a84ff; }"));
    setAttribute(Qt::WA_StyledBackground);
}

void PopUpViewController::rebuildSourceMenu()
{
    const QSignalBlocker quiet(m_midiInputSelect);
    m_midiInputSelect->clear();
    // Without a MIDI system there is nothing to pick; the menu says why it is empty.
    m_midiInputSelect->setEnabled(m_manager.midiSystemFound());
    if (!m_manager.midiSystemFound()) {
        m_midiInputSelect->addItem(QStringLiteral("No MIDI system found"), -1);
        return;
    }
    m_midiInputSelect->addItem(QStringLiteral("None Selected"), -1);
    const QStringList names = m_manager.sourceNames();
    for (int i = 0; i < names.size(); ++i)
        m_midiInputSelect->addItem(names[i], i);
}

void PopUpViewController::selectMenuTag(int tag)
{
    const QSignalBlocker quiet(m_midiInputSelect);
    m_midiInputSelect->setCurrentIndex(std::max(0, m_midiInputSelect->findData(tag)));
}

void PopUpViewController::updateMIDIDropdown()
{
    rebuildSourceMenu();
    selectMenuTag(m_manager.indexOfSelectedSource());
}

void PopUpViewController::midiInputIsSelected(int menuIndex)
{
    m_manager.pickSource(m_midiInputSelect->itemData(menuIndex).toInt());
    // A pick that could not connect leaves nothing selected; the menu says so.
    selectMenuTag(m_manager.indexOfSelectedSource());
}

void PopUpViewController::selectMappingButton(int tag)
{
    m_manager.setSelectedMappingTag(tag);
    refreshSelection();
}

void PopUpViewController::removeMapping()
{
    const int tag = m_manager.selectedMappingTag();
    if (tag == -1)
        return;
    m_manager.removeSelectedMapping();
    if (MappingCell *c = cell(tag))
        c->configure(std::nullopt);
    refreshSelection();
}

void PopUpViewController::clearAllPressed()
{
    m_manager.clearAllMappings();
    for (MappingCell *c : std::as_const(m_cells))
        c->configure(std::nullopt);
    refreshSelection();
}

void PopUpViewController::applyChangesPressed()
{
    m_manager.applyMappings();
    refreshTiles();
}

void PopUpViewController::refreshTiles()
{
    for (auto it = m_cells.cbegin(); it != m_cells.cend(); ++it)
        it.value()->configure(m_manager.mappings().mapping(it.key()));
}

void PopUpViewController::refreshSelection()
{
    for (auto it = m_cells.cbegin(); it != m_cells.cend(); ++it)
        it.value()->setSelected(it.key() == m_manager.selectedMappingTag());
}
