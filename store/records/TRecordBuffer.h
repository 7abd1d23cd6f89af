#pragma once

#include "ETextTooLong.h"
#include "TTextCapacity.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

#include <algorithm>
#include <array>
#include <cstddef>
#include <span>

// A fixed-layout record of N bytes, the unit a dataset stores and exchanges.
// The buffer is zero-filled when it is created and by clear(), so that bytes no
// field has set are always zero and two workstations writing the same values
// produce the same bytes.
//
// The record classes derive from it and give each field a getter and a setter
// built on the protected helpers below:
// - texts sit in a fixed field of `width` bytes as UTF-8 followed by a NUL, so a
//   field holds at most width-1 bytes of text;
// - integers are little-endian on every host, signed, 32 or 16 bits wide.
// A field that does not lie inside the buffer is a programming error: it
// asserts, and in a release build reads as empty/zero and is not written.
// Little-endian integers in a record's bytes: byte i carries bits 8i..8i+7,
// whatever the host's order.
namespace TRecordBytes {

inline quint32 littleEndian(std::span<const char> field)
{
    quint32 value = 0;
    for (std::size_t i = 0; i < field.size(); ++i)
        value |= quint32(static_cast<unsigned char>(field[i])) << (8 * i);
    return value;
}

inline void setLittleEndian(std::span<char> field, quint32 value)
{
    for (std::size_t i = 0; i < field.size(); ++i)
        field[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

} // namespace TRecordBytes

template <std::size_t N>
class TRecordBuffer
{
public:
    static constexpr std::size_t Size = N;

    void clear() { data_.fill(0); }

    std::span<char> bytes() { return data_; }
    std::span<const char> bytes() const { return data_; }

    bool operator==(const TRecordBuffer&) const = default;

protected:
    // The text of a field: its bytes up to the first NUL, or all `width` bytes
    // when there is none, decoded as UTF-8. Bytes that are not valid UTF-8 come
    // out as replacement characters.
    QString text(std::size_t offset, std::size_t width) const
    {
        if (!fits(offset, width))
            return {};
        const auto field = std::span(data_).subspan(offset, width);
        const auto end = std::find(field.begin(), field.end(), '\0');
        return QString::fromUtf8(field.data(), end - field.begin());
    }

    // Writes a text into a field and zeroes the rest of it. A text longer than
    // width-1 bytes of UTF-8 is refused whole: ETextTooLong names the field
    // (`what`, as the user knows it) and the field keeps what it held. Nothing
    // is ever cut, so what is stored is what the user typed.
    void setText(std::size_t offset, std::size_t width, const QString& value, const char* what)
    {
        setUtf8(offset, width, value.toUtf8(), what);
    }

    // setText for a text already in UTF-8 (ASCII among it), with the same
    // rule: a kilobyte of base64 need not go through a QString and back.
    void setUtf8(std::size_t offset, std::size_t width, QByteArrayView utf8, const char* what)
    {
        if (!fits(offset, width) || width == 0)
            return;
        if (utf8.size() > static_cast<qsizetype>(width - 1))
            throw ETextTooLong(TTextCapacity::tooLongMessage(QString::fromLatin1(what), QString::fromUtf8(utf8),
                                                              int(width - 1)));
        const auto field = std::span(data_).subspan(offset, width);
        std::fill(field.begin(), field.end(), '\0');
        std::copy_n(utf8.cbegin(), utf8.size(), field.begin());
    }

    qint32 int32(std::size_t offset) const
    {
        return static_cast<qint32>(unsignedAt(offset, 4));
    }

    void setInt32(std::size_t offset, qint32 value)
    {
        setUnsignedAt(offset, 4, static_cast<quint32>(value));
    }

    qint16 int16(std::size_t offset) const
    {
        return static_cast<qint16>(static_cast<quint16>(unsignedAt(offset, 2)));
    }

    void setInt16(std::size_t offset, qint16 value)
    {
        setUnsignedAt(offset, 2, static_cast<quint16>(value));
    }

private:
    static bool fits(std::size_t offset, std::size_t width)
    {
        const bool inside = offset <= N && width <= N - offset;
        Q_ASSERT_X(inside, "TRecordBuffer", "field lies outside the record");
        return inside;
    }

    // The bytes are read and written through the field's span, never by an
    // index into the buffer: the optimiser may merge the helpers of records
    // of different sizes, and would then judge an index into one record
    // against the bounds of another (a false -Warray-bounds).
    quint32 unsignedAt(std::size_t offset, std::size_t width) const
    {
        return fits(offset, width) ? TRecordBytes::littleEndian(std::span(data_).subspan(offset, width)) : 0;
    }

    void setUnsignedAt(std::size_t offset, std::size_t width, quint32 value)
    {
        if (fits(offset, width))
            TRecordBytes::setLittleEndian(std::span(data_).subspan(offset, width), value);
    }

    std::array<char, N> data_{};
};
