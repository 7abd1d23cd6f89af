#include "TrailRecord.h"

#include "RecordKey.h"

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
