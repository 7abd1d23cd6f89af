#include "BinRecord.h"

#include "RecordKey.h"

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
    setUtf8(BodyOffset, BodyWidth, body.toBase64(), "bin body");
}
