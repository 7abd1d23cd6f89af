#include "TDisplaySettings.h"

#include "EQuorla.h"
#include "TWorkstationStore.h"

#include <utility>

namespace {

const QString KeyMessage = QStringLiteral("Unable to create Quorla registry key");

// The stored values, in the order they are read and written.
const std::pair<const char*, qint32 TDisplaySettings::*> Colours[] = {
    {"TimeColor", &TDisplaySettings::TimeColor},
    {"PrivateColor", &TDisplaySettings::PrivateColor},
    {"CategoryColor", &TDisplaySettings::CategoryColor},
    {"AssigneeColor", &TDisplaySettings::AssigneeColor},
    {"DescriptionColor", &TDisplaySettings::DescriptionColor},
};
const std::pair<const char*, bool TDisplaySettings::*> Switches[] = {
    {"PrivateItalic", &TDisplaySettings::PrivateItalic},
    {"CategoryItalic", &TDisplaySettings::CategoryItalic},
    {"AssigneeItalic", &TDisplaySettings::AssigneeItalic},
    {"ExpandLines", &TDisplaySettings::ExpandLines},
    {"ShowCategories", &TDisplaySettings::ShowCategories},
    {"ShowAlarmGlyphs", &TDisplaySettings::ShowAlarmGlyphs},
    {"ShowPrivateGlyphs", &TDisplaySettings::ShowPrivateGlyphs},
};

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
    for (const auto& [name, field] : Colours)
        this->*field = store.ReadInteger(QString::fromLatin1(name), this->*field);
    for (const auto& [name, field] : Switches)
        this->*field = store.ReadBool(QString::fromLatin1(name), this->*field);
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
    for (const auto& [name, field] : Colours)
        ok &= store.WriteInteger(QString::fromLatin1(name), this->*field);
    for (const auto& [name, field] : Switches)
        ok &= store.WriteBool(QString::fromLatin1(name), this->*field);
    for (int slot = 0; slot < GroupCount; ++slot)
        ok &= store.WriteString(groupValue(slot), Groups[std::size_t(slot)].AsText());
    const QString location = store.Location();
    store.CloseKey();
    if (!ok)
        throw EQuorla(QStringLiteral("Unable to save the Quorla settings\r\r") + location);
}
