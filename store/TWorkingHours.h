#pragma once

#include <QLatin1StringView>
#include <QString>
#include <QTime>

#include <optional>

class TQuorlaDB;

// The office's working hours: the same hours on each working day, in the
// office's wall-clock time, within which "Find a time" proposes meetings.
// Kept as an office setting beside the office's zone, in the users dataset,
// for every workstation; as text "08:00-18:00 12345": start, end and the
// working days as ISO weekday numbers (1 Monday to 7 Sunday).
struct TWorkingHours
{
    QTime start = QTime(8, 0);
    QTime end = QTime(18, 0);
    // Working days, bit (ISO weekday - 1): Monday to Friday.
    int days = 0x1f;

    // The name under which the users dataset keeps them.
    static constexpr QLatin1StringView Setting{"workinghours"};

    // Whether ISO weekday `day` (1 Monday to 7 Sunday) is a working day.
    bool worksOn(int day) const { return day >= 1 && day <= 7 && (days & (1 << (day - 1))) != 0; }

    QString text() const;
    // The hours a text gives; nothing when it is none text() writes: an end
    // not after the start, no working day.
    static std::optional<TWorkingHours> fromText(const QString& text);

    // The office's: those kept, or the default when none are kept or the
    // kept text cannot be read. A failed read other than "none kept" throws
    // EQuorlaDB with the dataset's error text.
    static TWorkingHours Of(TQuorlaDB& database);
    // Keeps `hours` for every workstation (on a server, only an
    // administrator may). Throws EQuorlaDB with the dataset's error text.
    static void Store(TQuorlaDB& database, const TWorkingHours& hours);

    bool operator==(const TWorkingHours&) const = default;
};
