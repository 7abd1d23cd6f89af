#pragma once

#include "TBusyTimes.h"

#include <QList>
#include <QString>
#include <QWidget>
#include <QtGlobal>

// One day of several people's (and resources') busy times, a row each: a
// bar over the hours shown, taken stretches filled (a private one the reader
// may not see in grey, without text), the working hours lighter, and the
// event being edited outlined across all rows. Hovering names what takes
// the time. Draws only what it is given.
class TBusyStrip : public QWidget
{
    Q_OBJECT

public:
    struct TRow
    {
        QString name;
        QList<TBusyInterval> busy;
    };

    explicit TBusyStrip(QWidget* parent = nullptr);

    // The day shown: `from` to `to` (stamp seconds, on whole hours), the
    // working hours `opens` to `closes` within it.
    void setDay(qint64 from, qint64 to, qint64 opens, qint64 closes);
    void setRows(const QList<TRow>& rows);
    const QList<TRow>& rows() const { return rows_; }
    // The event's own time; an empty stretch shows none.
    void setEvent(qint64 start, qint64 end);

    // What takes row `row` at `moment`: each stretch's text, "Private" for
    // one without text.
    QStringList TakenAt(int row, qint64 moment) const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    static constexpr int NameWidth = 110;
    static constexpr int RowHeight = 16;
    static constexpr int HeaderHeight = 14;

    // The x of `moment` within the bars.
    int xOf(qint64 moment) const;
    void paintHeader(class QPainter& painter) const;
    void paintRow(QPainter& painter, int row) const;

    QList<TRow> rows_;
    qint64 from_ = 0;
    qint64 to_ = 86400;
    qint64 opens_ = 0;
    qint64 closes_ = 0;
    qint64 eventStart_ = 0;
    qint64 eventEnd_ = 0;
};
