#pragma once

#include <QValidator>

class QLineEdit;
class QPlainTextEdit;
class TDesktopServices;

// Limits an edit to what its record field stores: `capacity` bytes of UTF-8
// (ten plain letters in a 10-byte name, fewer with accents), so that what is
// typed is always what is saved. A keystroke or paste that would pass the
// capacity is refused whole, with a beep and FullText as a hint beside the
// field. With `upperCase` the text becomes upper case as it is typed or
// pasted, and the capacity holds for the upper-case text (which can be
// longer: "ß" becomes "SS").
class TTextLimit : public QValidator
{
    Q_OBJECT

public:
    TTextLimit(int capacity, bool upperCase, QObject* parent = nullptr);

    // Puts a new limit on `edit`, owned by the edit; `desktop` beeps at a
    // refused key and must outlive the edit.
    static void Apply(QLineEdit* edit, TDesktopServices& desktop, int capacity, bool upperCase = false);

    // The same limit on a text box: a keystroke or paste that would pass it
    // is taken back whole, with the beep and the hint.
    static void Apply(QPlainTextEdit* edit, TDesktopServices& desktop, int capacity);

    State validate(QString& input, int& pos) const override;

    // Why a key was refused in a field of `capacity` bytes.
    static QString FullText(int capacity);

private:
    int capacity_;
    bool upperCase_;
};
