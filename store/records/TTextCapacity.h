#pragma once

#include <QString>

// Texts are stored as UTF-8 in fields sized in bytes, with a NUL after them: a
// field of width W holds W-1 bytes of text, so ten plain letters fit a 10-byte
// name while an accented letter takes two bytes and a euro sign three. The
// dialogs limit what can be typed by these rules, and the records refuse more.
class TTextCapacity
{
public:
    TTextCapacity() = delete;

    // The bytes `text` takes in a record.
    static int bytes(const QString& text);

    // Whether `text` fits `capacity` bytes.
    static bool fits(const QString& text, int capacity);

    // The longest start of `text` that fits `capacity` bytes, cut between whole
    // characters. For the few places that cut on purpose (a name made from the
    // workstation's login name); records never cut.
    static QString cut(const QString& text, int capacity);

    // The message of a text that does not fit: "The <what> is too long ...".
    static QString tooLongMessage(const QString& what, const QString& text, int capacity);
};
