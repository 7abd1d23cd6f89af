#include "TDayViewItemDelegate.h"

#include "TDayViewList.h"

#include <QStyle>

TDayViewItemDelegate::TDayViewItemDelegate(TDayViewList* list)
    : QAbstractItemDelegate(list), list_(list)
{
}

void TDayViewItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const
{
    list_->DrawItem(*painter, option.rect, index.row(), option.state.testFlag(QStyle::State_HasFocus));
}

QSize TDayViewItemDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const
{
    return list_->MeasureItem(index.row());
}
