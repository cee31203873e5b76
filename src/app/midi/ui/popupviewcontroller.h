// SPDX-License-Identifier: MIT
#pragma once

#include <QMap>
#include <QWidget>

class MappingCell;
class MIDIManager;
class QComboBox;
class QPushButton;

// The mapping window's content, built in code: the MIDI PORT menu, the four tiles,
// the hint and the button row. A view onto the MIDI manager, which holds all state.
class PopUpViewController final : public QWidget
{
    Q_OBJECT

public:
    explicit PopUpViewController(MIDIManager &manager, QWidget *parent = nullptr);

    QComboBox *midiInputSelect() const { return m_midiInputSelect; }
    MappingCell *cell(int tag) const { return m_cells.value(tag); }
    QPushButton *clearAllButton() const { return m_clearAll; }
    QPushButton *removeButton() const { return m_remove; }
    QPushButton *applyButton() const { return m_apply; }

    void midiInputIsSelected(int menuIndex);
    void selectMappingButton(int tag);
    void removeMapping();
    void clearAllPressed();
    void applyChangesPressed();
    void updateMIDIDropdown();
    void refreshTiles();

private:
    void buildInterface();
    void rebuildSourceMenu();
    void selectMenuTag(int tag);
    void refreshSelection();
    QPushButton *makeButton(const QString &title);

    MIDIManager &m_manager;
    QMap<int, MappingCell *> m_cells;
    QComboBox *m_midiInputSelect = nullptr;
    QPushButton *m_clearAll = nullptr;
    QPushButton *m_remove = nullptr;
    QPushButton *m_apply = nullptr;
};
