#include "TDisplaySettings.h"

#include "EQuorla.h"
#include "TWorkstationStore.h"

namespace {

const QString KeyMessage = QStringLiteral("Unable to create Quorla registry key");

QString groupValue(int slot)
{
    return QStringLiteral("Group") + QString::number(slot);
}

} // namespace

TDisplaySettings::TDisplaySettings()
{
    SetDefaults();
}

void TDisplaySettings::SetDefaults()
{
    TimeColor = 0x0000FF;         // red
    PrivateColor = 0x800000;      // navy
    CategoryColor = 0x808000;     // teal
    AssigneeColor = 0x008000;     // green
    DescriptionColor = 0x800000;  // navy
    PrivateItalic = false;
    CategoryItalic = false;
    AssigneeItalic = false;
    ExpandLines = true;
    ShowCategories = true;
    ShowAlarmGlyphs = true;
    ShowPrivateGlyphs = true;
    for (TGroup& group : Groups) {
        group.Name.clear();
        group.Clear();
    }
}

void TDisplaySettings::Load()
{
    SetDefaults();
    TWorkstationStore store;
    if (!store.OpenKey(true))
        throw EQuorla(KeyMessage);
    TimeColor = store.ReadInteger(QStringLiteral("TimeColor"), TimeColor);
    PrivateColor = store.ReadInteger(QStringLiteral("PrivateColor"), PrivateColor);
    CategoryColor = store.ReadInteger(QStringLiteral("CategoryColor"), CategoryColor);
    AssigneeColor = store.ReadInteger(QStringLiteral("AssigneeColor"), AssigneeColor);
    DescriptionColor = store.ReadInteger(QStringLiteral("DescriptionColor"), DescriptionColor);
    PrivateItalic = store.ReadBool(QStringLiteral("PrivateItalic"), PrivateItalic);
    CategoryItalic = store.ReadBool(QStringLiteral("CategoryItalic"), CategoryItalic);
    AssigneeItalic = store.ReadBool(QStringLiteral("AssigneeItalic"), AssigneeItalic);
    ExpandLines = store.ReadBool(QStringLiteral("ExpandLines"), ExpandLines);
    ShowCategories = store.ReadBool(QStringLiteral("ShowCategories"), ShowCategories);
    ShowAlarmGlyphs = store.ReadBool(QStringLiteral("ShowAlarmGlyphs"), ShowAlarmGlyphs);
    ShowPrivateGlyphs = store.ReadBool(QStringLiteral("ShowPrivateGlyphs"), ShowPrivateGlyphs);
    for (int slot = 0; slot < GroupCount; ++slot)
        Groups[std::size_t(slot)].SetFromText(store.ReadString(groupValue(slot), QString()));
    store.CloseKey();
}

void TDisplaySettings::Save() const
{
    TWorkstationStore store;
    if (!store.OpenKey(true))
        throw EQuorla(KeyMessage);
    bool ok = true;
    ok &= store.WriteInteger(QStringLiteral("TimeColor"), TimeColor);
    ok &= store.WriteInteger(QStringLiteral("PrivateColor"), PrivateColor);
    ok &= store.WriteInteger(QStringLiteral("CategoryColor"), CategoryColor);
    ok &= store.WriteInteger(QStringLiteral("AssigneeColor"), AssigneeColor);
    ok &= store.WriteInteger(QStringLiteral("DescriptionColor"), DescriptionColor);
    ok &= store.WriteBool(QStringLiteral("PrivateItalic"), PrivateItalic);
    ok &= store.WriteBool(QStringLiteral("CategoryItalic"), CategoryItalic);
    ok &= store.WriteBool(QStringLiteral("AssigneeItalic"), AssigneeItalic);
    ok &= store.WriteBool(QStringLiteral("ExpandLines"), ExpandLines);
    ok &= store.WriteBool(QStringLiteral("ShowCategories"), ShowCategories);
    ok &= store.WriteBool(QStringLiteral("ShowAlarmGlyphs"), ShowAlarmGlyphs);
    ok &= store.WriteBool(QStringLiteral("ShowPrivateGlyphs"), ShowPrivateGlyphs);
    for (int slot = 0; slot < GroupCount; ++slot)
        ok &= store.WriteString(groupValue(slot), Groups[std::size_t(slot)].AsText());
    const QString location = store.Location();
    store.CloseKey();
    if (!ok)
        throw EQuorla(QStringLiteral("Unable to save the Quorla settings\r\r") + location);
}
