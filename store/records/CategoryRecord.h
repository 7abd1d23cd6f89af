#pragma once

#include "TRecordBuffer.h"

#include <QLatin1StringView>
#include <QString>

#include <cstddef>

// One category of calendar events, a record of the categories dataset.
// `Description` carries secondary index 1 (uniqueness on add).
class CategoryRecord : public TRecordBuffer<31>
{
public:
    static constexpr QLatin1StringView FileName{"QLCat.Ism"};
    static constexpr QLatin1StringView Format{"X$*31"};

    static constexpr std::size_t DescriptionOffset = 0;
    static constexpr std::size_t DescriptionWidth = 31;

    // Index of `Description`: uniqueness on add.
    static constexpr qint16 DescriptionIndex = 1;
    // Bytes of UTF-8 text the description can hold (see TTextCapacity).
    static constexpr int DescriptionCapacity = DescriptionWidth - 1;

    // The category's text, unique; at most 30 bytes. An over-long text is
    // refused with ETextTooLong, the field keeping what it held.
    QString Description() const;
    void setDescription(const QString& description);
};

static_assert(CategoryRecord::DescriptionOffset + CategoryRecord::DescriptionWidth == CategoryRecord::Size);
