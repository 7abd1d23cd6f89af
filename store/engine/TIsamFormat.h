#pragma once

#include <QString>

#include <cstddef>
#include <vector>

// A parsed record format string: comma-separated fields, in record order and
// without padding. "&" is a 32-bit integer, "%" a 16-bit integer, "$*N" a text
// of N bytes; an "X" prefix gives the field a secondary index whose number is
// the field's position counted from 1, an "R<n>" prefix repeats the field n times.
class TIsamFormat
{
public:
    struct Field {
        std::size_t offset = 0;   // byte offset in the record
        std::size_t width = 0;    // bytes of one element
        int repeat = 1;           // number of elements in a row
        bool text = false;        // "$*N" field: its value ends at the first NUL
        bool indexed = false;     // "X": has a secondary index
    };

    // Parses `format`; false (and an empty format) when it is not a valid format
    // string. An indexed field may not be repeated.
    bool parse(const QString& format);

    const std::vector<Field>& fields() const { return fields_; }
    std::size_t recordSize() const { return recordSize_; }

    // True when `index` (counted from 1) names an indexed field.
    bool isIndex(int index) const;

    // The index value of field `index` in `record`: a text field's bytes up to
    // its first NUL, a number field's bytes as stored. `record` must be
    // recordSize() bytes long and isIndex(index) true.
    QByteArray indexValue(int index, const char* record) const;

    // The field numbers (from 1) that carry an index, ascending.
    std::vector<int> indexes() const;

private:
    std::vector<Field> fields_;
    std::size_t recordSize_ = 0;
};
