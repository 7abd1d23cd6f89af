#pragma once

#include "TRecordBuffer.h"

#include <QLatin1StringView>
#include <QString>

#include <cstddef>

// A room or another thing events book (a projector, a car), a record of the
// resources dataset ("QLRes.Ism"). `Name` carries secondary index 1
// (unique among resources); `Flags` holds Bookable while events may book it
// (one no longer bookable keeps the bookings it has), and the kind an
// administrator chose: KindRoom or KindOther. A record written before kinds
// were kept has neither (its kind is then guessed, TResourceStore).
class ResourceRecord : public TRecordBuffer<136>
{
public:
    static constexpr QLatin1StringView FileName{"QLRes.Ism"};
    static constexpr QLatin1StringView Format{"X$*31,$*101,&"};

    static constexpr std::size_t NameOffset = 0;
    static constexpr std::size_t NameWidth = 31;
    static constexpr std::size_t DescriptionOffset = 31;
    static constexpr std::size_t DescriptionWidth = 101;
    static constexpr std::size_t FlagsOffset = 132;

    static constexpr qint16 NameIndex = 1;
    static constexpr qint32 Bookable = 1;
    static constexpr qint32 KindRoom = 2;
    static constexpr qint32 KindOther = 4;

    QString Name() const { return text(NameOffset, NameWidth); }
    void setName(const QString& name) { setText(NameOffset, NameWidth, name, "resource name"); }
    QString Description() const { return text(DescriptionOffset, DescriptionWidth); }
    void setDescription(const QString& value) { setText(DescriptionOffset, DescriptionWidth, value, "description"); }
    qint32 Flags() const { return int32(FlagsOffset); }
    void setFlags(qint32 flags) { setInt32(FlagsOffset, flags); }
    bool IsBookable() const { return (Flags() & Bookable) != 0; }
};

static_assert(ResourceRecord::FlagsOffset + 4 == ResourceRecord::Size);
