#include "TTextLimit.h"

#include "TDesktopServices.h"
#include "TTextCapacity.h"

#include <QLineEdit>
#include <QToolTip>

namespace {

const QString Full = QStringLiteral("This field is full: it holds %1 plain letters, fewer with accents");

} // namespace

TTextLimit::TTextLimit(int capacity, bool upperCase, QObject* parent)
    : QValidator(parent), capacity_(capacity), upperCase_(upperCase)
{
}

void TTextLimit::Apply(QLineEdit* edit, TDesktopServices& desktop, int capacity, bool upperCase)
{
    auto* old = qobject_cast<TTextLimit*>(const_cast<QValidator*>(edit->validator()));
    auto* limit = new TTextLimit(capacity, upperCase, edit);
    edit->setValidator(limit);
    delete old;
    // A refused key says why, beside the field, so that a name is never cut
    // without a word.
    QObject::connect(edit, &QLineEdit::inputRejected, limit, [edit, &desktop, capacity] {
        desktop.beep();
        QToolTip::showText(edit->mapToGlobal(QPoint(0, edit->height())), FullText(capacity), edit);
    });
}

QString TTextLimit::FullText(int capacity)
{
    return Full.arg(capacity);
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
