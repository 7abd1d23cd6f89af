#include "TTextLimit.h"

#include "TTextCapacity.h"

#include <QLineEdit>

TTextLimit::TTextLimit(int capacity, bool upperCase, QObject* parent)
    : QValidator(parent), capacity_(capacity), upperCase_(upperCase)
{
}

void TTextLimit::Apply(QLineEdit* edit, int capacity, bool upperCase)
{
    edit->setValidator(new TTextLimit(capacity, upperCase, edit));
}

QValidator::State TTextLimit::validate(QString& input, int& pos) const
{
    if (upperCase_) {
        const QString upper = input.toUpper();
        // A letter that grows when upper-cased moves the cursor with it.
        pos += int(upper.size() - input.size());
        input = upper;
    }
    return TTextCapacity::fits(input, capacity_) ? Acceptable : Invalid;
}
