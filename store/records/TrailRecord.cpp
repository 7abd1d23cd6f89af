#include "TrailRecord.h"

#include "RecordKey.h"

#include <algorithm>

namespace {

constexpr qint64 Largest = 9'999'999'999;

} // namespace

QString TrailRecord::inverted(qint64 number)
{
    return RecordKey::format(Largest - number);
}

void TrailRecord::setMoment(qint64 seconds, const QString& userKey, const QString& primaryKey)
{
    const QString newest = inverted(seconds) + inverted(RecordKey::parse(primaryKey));
    setText(WhenOffset, 11, RecordKey::format(seconds), "time");
    setText(UserKeyOffset, 11, userKey, "user");
    setText(NewestOffset, 21, newest, "order");
    setText(UserNewestOffset, 31, userKey + newest, "order");
}

std::optional<int> TrailRecord::UtcOffset() const
{
    // An older record whose summary runs on into these bytes has none.
    const QString given = text(UtcOffsetOffset, UtcOffsetWidth);
    if (!text(UtcOffsetOffset - 1, 1).isEmpty() || given.size() != 5 || (given[0] != '+' && given[0] != '-')
        || !std::all_of(given.begin() + 1, given.end(), [](QChar c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const int hhmm = given.mid(1).toInt();
    const int seconds = hhmm / 100 * 3600 + hhmm % 100 * 60;
    return given[0] == '-' ? -seconds : seconds;
}

void TrailRecord::setUtcOffset(int seconds)
{
    const int minutes = qAbs(seconds) / 60;
    setText(UtcOffsetOffset, UtcOffsetWidth,
            QString::asprintf("%c%02d%02d", seconds < 0 ? '-' : '+', minutes / 60, minutes % 60), "time zone");
}

void TrailRecord::setTarget(const QString& dataset, const QString& key, const QString& subject)
{
    setText(DatasetOffset, DatasetWidth, dataset, "dataset");
    setText(KeyOffset, 11, key, "key");
    setText(SubjectOffset, SubjectWidth, subject, "subject");
}

void TrailRecord::makeSetting(int days)
{
    clear();
    setText(KeyOffset, 11, RecordKey::format(days), "days");
    setText(NewestOffset, 21, AfterAll, "order");
    setText(UserNewestOffset, 31, AfterAll, "order");
    setText(SubjectOffset, SubjectWidth, AfterAll, "subject");
}
