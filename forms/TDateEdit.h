#pragma once

#include <QDateEdit>

// The program's date edit: day, month and a two-digit year ("dd/MM/yy"), with
// a drop-down calendar whose weeks start on Monday. A two-digit year is read in
// the hundred years that start at 1970, so "69" is 2069 and "70" is 1970.
class TDateEdit : public QDateEdit
{
    Q_OBJECT

public:
    explicit TDateEdit(QWidget* parent = nullptr);

    // The year of a two-digit year in the window from 1970.
    static int windowedYear(int twoDigits);

protected:
    QDateTime dateTimeFromText(const QString& text) const override;
};
