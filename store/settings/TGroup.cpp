#include "TGroup.h"

namespace {

QString quoted(const QString& item)
{
    if (!item.contains(QLatin1Char(' ')) && !item.contains(QLatin1Char(',')) && !item.contains(QLatin1Char('"')))
        return item;
    QString text = item;
    text.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// Splits comma-separated text; an item in double quotes may hold commas and
// doubled quotes.
QStringList splitItems(const QString& text)
{
    QStringList items;
    QString item;
    bool inQuotes = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (inQuotes) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"')) {
                    item += c;
                    ++i;
                } else {
                    inQuotes = false;
                }
            } else {
                item += c;
            }
        } else if (c == QLatin1Char('"')) {
            inQuotes = true;
        } else if (c == QLatin1Char(',')) {
            items << item;
            item.clear();
        } else {
            item += c;
        }
    }
    items << item;
    return items;
}

} // namespace

void TGroup::Clear()
{
    Members.clear();
}

void TGroup::Add(const QString& key)
{
    Members.append(key);
}

bool TGroup::Contains(const QString& key) const
{
    return Members.contains(key);
}

QString TGroup::AsText() const
{
    QStringList items;
    for (const QString& member : Members)
        items << quoted(member);
    return quoted(Name) + QLatin1Char(',') + items.join(QLatin1Char(','));
}

void TGroup::SetFromText(const QString& text)
{
    Name.clear();
    Clear();
    if (text.isEmpty())
        return;
    QStringList items = splitItems(text);
    Name = items.takeFirst();
    for (const QString& item : std::as_const(items))
        if (!item.isEmpty())
            Members.append(item);
}
