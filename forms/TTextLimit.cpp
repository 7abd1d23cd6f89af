#include "TTextLimit.h"

#include "TDesktopServices.h"
#include "TTextCapacity.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QSignalBlocker>
#include <QToolTip>

#include <algorithm>
#include <memory>

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

void TTextLimit::Apply(QPlainTextEdit* edit, TDesktopServices& desktop, int capacity)
{
    // The text and cursor as last accepted, to go back to.
    struct Accepted
    {
        QString text;
        int cursor = 0;
    };
    auto accepted = std::make_shared<Accepted>();
    QObject::connect(edit, &QPlainTextEdit::textChanged, edit, [edit, &desktop, capacity, accepted] {
        QString text = edit->toPlainText();
        if (TTextCapacity::fits(text, capacity)) {
            accepted->text = std::move(text);
            accepted->cursor = edit->textCursor().position();
            return;
        }
        {
            const QSignalBlocker quiet(edit);
            edit->setPlainText(accepted->text);
        }
        QTextCursor cursor = edit->textCursor();
        cursor.setPosition(std::min(accepted->cursor, int(accepted->text.size())));
        edit->setTextCursor(cursor);
        desktop.beep();
        QToolTip::showText(edit->mapToGlobal(QPoint(0, edit->height())), FullText(capacity), edit);
    });
    QObject::connect(edit, &QPlainTextEdit::cursorPositionChanged, edit,
                     [edit, accepted] { accepted->cursor = edit->textCursor().position(); });
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
