#pragma once

#include "RecordBuffer.h"

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

    // The category's text, unique; at most 30 characters.
    QString Description() const;
    void setDescription(const QString& description);
};

static_assert(CategoryRecord::DescriptionOffset + CategoryRecord::DescriptionWidth == CategoryRecord::Size);
