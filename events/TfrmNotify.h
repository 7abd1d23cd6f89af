#pragma once

#include "DayEntryRecord.h"
#include "TServices.h"

#include <QDialog>
#include <QString>

#include <memory>

class AlarmRecord;
class TQuorlaDB;
class TStamp;

namespace Ui {
class TfrmNotify;
}

// The alarm pop-up: shows the event of a due alarm (read-only fields in the
// normal text colours) and lets the user snooze the
// alarm (its time moves on from now by the chosen amount) or switch it off (its
// record is deleted). Both happen under the alarm's record lock; a lock held
// elsewhere is reported and the pop-up stays. One instance serves every alarm,
// so the snooze choice carries over from one pop-up to the next.
//
// While it shows, the desktop's notification service (when there is one) also
// shows the event's description and due time; clicking that notification
// brings the program's window and the pop-up to the front. The notification
// is taken back when the pop-up closes.
class TfrmNotify : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmNotify(TServices services, QWidget* parent = nullptr);
    ~TfrmNotify() override;

    // Shows the alarm `alarm` stored under `key` in `database`. Returns 1 after
    // a successful snooze (`alarm` then holds the new time) or switch-off; 2
    // when the pop-up was closed otherwise (alarm unchanged) or when the
    // alarm's event no longer exists, which is reported and the alarm deleted.
    // Raises EQuorla with the dataset's error text when that delete fails.
    int Execute(AlarmRecord& alarm, const QString& key, TQuorlaDB& database);

    // Seconds added to now by each entry of the snooze list, in list order.
    static qint32 SnoozeSeconds(int index);

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override;

private:
    // The due field as wide as the longest weekday and month names make the
    // due text in its font, so that no due time is ever cut.
    void fitDueField();
    // The description whole in its field, wrapped at the field's width.
    void showDescription(const QString& description);
    void FormShow();
    // Shows the window the pop-up belongs to, restored when it was minimised
    // or hidden, and puts the pop-up in front of it.
    void bringForward();
    void btnSnoozeClick();
    void btnRemoveClick();

    TServices services_;
    std::unique_ptr<Ui::TfrmNotify> ui;
    QString AlarmKey;
    std::unique_ptr<TStamp> Stamp;
    AlarmRecord* Alarm = nullptr;
    TQuorlaDB* Database = nullptr;
    DayEntryRecord Entry;
};
