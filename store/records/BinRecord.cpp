#include "BinRecord.h"

#include "RecordKey.h"

#include <algorithm>

QChar BinRecord::Dataset() const
{
    const QString which = text(DatasetOffset, 2);
    return which.isEmpty() ? QChar() : which.at(0);
}

QStringList BinRecord::AssigneeKeys() const
{
    QStringList keys;
    for (int slot = 0; slot < MaxAssignees; ++slot) {
        const QString key = text(AssigneesOffset + std::size_t(slot) * AssigneeWidth, AssigneeWidth);
        if (!RecordKey::isNone(key) && !key.isEmpty())
            keys << key;
    }
    return keys;
}

void BinRecord::setAssigneeKeys(const QStringList& keys)
{
    const QString none(RecordKey::None);
    for (int slot = 0; slot < MaxAssignees; ++slot)
        setText(AssigneesOffset + std::size_t(slot) * AssigneeWidth, AssigneeWidth,
                slot < keys.size() ? keys[slot] : none, "assignee");
}

void BinRecord::setBody(const QByteArray& body)
{
    const QByteArray text = body.toBase64();
    if (text.size() >= qsizetype(BodyWidth)) {
        // Refused, in the words of every text too long for its field.
        setText(BodyOffset, BodyWidth, QString::fromLatin1(text), "bin body");
        return;
    }
    // Base64 is ASCII, its own UTF-8: copied as it is, without a detour
    // through a QString for a kilobyte a record.
    const std::span<char> field = bytes().subspan(BodyOffset, BodyWidth);
    std::fill(std::copy(text.cbegin(), text.cend(), field.begin()), field.end(), '\0');
}
