#pragma once

#include "TGroup.h"

#include <QtGlobal>

#include <array>

// The workstation's display settings of the calendar views and its ten user
// groups, as they are stored in the workstation store (TWorkstationStore).
// Colours keep the stored numbers: red in the lowest byte, green in the next,
// blue in the third (255 is pure red).
class TDisplaySettings
{
public:
    static constexpr int GroupCount = 10;

    TDisplaySettings();

    qint32 TimeColor;
    qint32 PrivateColor;
    qint32 CategoryColor;
    qint32 AssigneeColor;
    qint32 DescriptionColor;
    bool PrivateItalic;
    bool CategoryItalic;
    bool AssigneeItalic;
    bool ExpandLines;
    bool ShowCategories;
    bool ShowAlarmGlyphs;
    bool ShowPrivateGlyphs;
    // Slots 0 to 9; a slot is in use when its group has a name.
    std::array<TGroup, GroupCount> Groups;

    // Every value to its default and every group emptied, name included.
    void SetDefaults();

    // SetDefaults, then reads every value from the workstation store, creating
    // the store's key when there is none. A value that is missing or of the
    // wrong type keeps its default and the others are still read. Throws EQuorla
    // "Unable to create Quorla registry key" when the key cannot be opened.
    void Load();

    // Writes all twelve values and the ten groups (an empty group as ",").
    // Throws EQuorla "Unable to create Quorla registry key" when the key cannot
    // be opened, and "Unable to save the Quorla settings" followed by the
    // store's location when a value could not be written (the others are
    // still written).
    void Save() const;
};
