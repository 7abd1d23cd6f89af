#include "TIsamFormat.h"

#include <QByteArray>
#include <QStringList>

bool TIsamFormat::parse(const QString& format)
{
    fields_.clear();
    recordSize_ = 0;
    std::vector<Field> fields;
    std::size_t offset = 0;
    const QStringList parts = format.split(QLatin1Char(','));
    for (QString part : parts) {
        part = part.trimmed();
        Field f;
        if (part.startsWith(QLatin1Char('X'), Qt::CaseInsensitive)) {
            f.indexed = true;
            part.remove(0, 1);
        }
        if (part.startsWith(QLatin1Char('R'), Qt::CaseInsensitive)) {
            qsizetype digits = 1;
            while (digits < part.size() && part.at(digits).isDigit())
                ++digits;
            bool ok = false;
            f.repeat = part.mid(1, digits - 1).toInt(&ok);
            if (!ok || f.repeat < 1 || f.repeat > 10000)
                return false;
            part.remove(0, digits);
        }
        if (part == QLatin1String("&")) {
            f.width = 4;
        } else if (part == QLatin1String("%")) {
            f.width = 2;
        } else if (part.startsWith(QLatin1String("$*"))) {
            bool ok = false;
            const int width = part.mid(2).toInt(&ok);
            if (!ok || width < 1 || width > 65535)
                return false;
            f.width = std::size_t(width);
            f.text = true;
        } else {
            return false;
        }
        if (f.indexed && f.repeat != 1)
            return false;
        f.offset = offset;
        offset += f.width * std::size_t(f.repeat);
        fields.push_back(f);
    }
    if (fields.empty())
        return false;
    fields_ = std::move(fields);
    recordSize_ = offset;
    return true;
}

bool TIsamFormat::isIndex(int index) const
{
    return index >= 1 && std::size_t(index) <= fields_.size() && fields_[std::size_t(index - 1)].indexed;
}

QByteArray TIsamFormat::indexValue(int index, const char* record) const
{
    const Field& f = fields_[std::size_t(index - 1)];
    const char* start = record + f.offset;
    std::size_t length = f.width;
    if (f.text) {
        length = 0;
        while (length < f.width && start[length] != '\0')
            ++length;
    }
    return QByteArray(start, qsizetype(length));
}

std::vector<int> TIsamFormat::indexes() const
{
    std::vector<int> result;
    for (std::size_t i = 0; i < fields_.size(); ++i)
        if (fields_[i].indexed)
            result.push_back(int(i + 1));
    return result;
}
