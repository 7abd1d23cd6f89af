#include "TTextCapacity.h"

int TTextCapacity::bytes(const QString& text)
{
    return int(text.toUtf8().size());
}

bool TTextCapacity::fits(const QString& text, int capacity)
{
    return bytes(text) <= capacity;
}

QString TTextCapacity::cut(const QString& text, int capacity)
{
    QString kept;
    int used = 0;
    // Whole characters only: a surrogate pair counts as one.
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype length = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const int size = bytes(text.mid(i, length));
        if (used + size > capacity)
            break;
        kept += text.mid(i, length);
        used += size;
        i += length;
    }
    return kept;
}

QString TTextCapacity::tooLongMessage(const QString& what, const QString& text, int capacity)
{
    return QStringLiteral("The %1 is too long: it takes %2 bytes and at most %3 can be stored "
                          "(a letter with an accent takes two bytes, some signs three).\r\rNothing was saved.")
        .arg(what)
        .arg(bytes(text))
        .arg(capacity);
}
