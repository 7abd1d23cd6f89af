#include "TUserCheckList.h"

#include "RecordKey.h"
#include "TXIsamFile.h"
#include "UserRecord.h"
#include "TLookup.h"

#include <QListWidget>
#include <QListWidgetItem>

void TUserCheckList::Fill(QListWidget& list, TXIsamFile& users, bool checkable)
{
    list.clear();
    UserRecord user;
    TLookup::Each(users, user.bytes(), [&](const QString& key) {
        auto* item = new QListWidgetItem(user.FullName());
        item->setData(Qt::UserRole, RecordKey::parse(key));
        if (checkable) {
            item->setFlags((item->flags() | Qt::ItemIsUserCheckable) & ~Qt::ItemIsUserTristate);
            item->setCheckState(Qt::Unchecked);
        }
        InsertSorted(list, item);
    });
}

void TUserCheckList::InsertSorted(QListWidget& list, QListWidgetItem* item)
{
    int row = 0;
    while (row < list.count() && QString::compare(list.item(row)->text(), item->text(), Qt::CaseInsensitive) <= 0)
        ++row;
    list.insertItem(row, item);
}

qint64 TUserCheckList::Value(const QListWidgetItem& item)
{
    return item.data(Qt::UserRole).toLongLong();
}

QString TUserCheckList::Key(const QListWidgetItem& item)
{
    return RecordKey::format(Value(item));
}

bool TUserCheckList::Ticked(const QListWidgetItem& item)
{
    return item.checkState() == Qt::Checked;
}

int TUserCheckList::TickedCount(const QListWidget& list)
{
    int ticked = 0;
    for (int row = 0; row < list.count(); ++row)
        ticked += Ticked(*list.item(row)) ? 1 : 0;
    return ticked;
}
