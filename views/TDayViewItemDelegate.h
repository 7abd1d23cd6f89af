#pragma once

#include <QAbstractItemDelegate>

class TDayViewList;

// Hands the painting and measuring of every item of a TDayViewList back to the
// list, which holds the events, fonts and glyphs.
class TDayViewItemDelegate : public QAbstractItemDelegate
{
    Q_OBJECT

public:
    explicit TDayViewItemDelegate(TDayViewList* list);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    TDayViewList* list_;
};
