#pragma once

#include <QDialog>

#include <memory>

class AlarmRecord;
class QComboBox;
class QDateEdit;
class TStamp;

namespace Ui {
class TfrmAlarmProperties;
}

// Sets when an event's alarm goes off: a date, an hour and a minute in steps of
// five, written into the caller's alarm record when the user presses Close.
class TfrmAlarmProperties : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmAlarmProperties(QWidget* parent = nullptr);
    ~TfrmAlarmProperties() override;

    // Shows the record's AlarmTime (a minute between the five-minute steps shows
    // as the step below). Returns 1 after Close, with AlarmTime set to the date
    // and time shown; 2 when the window was closed otherwise, AlarmTime
    // untouched. A date outside 1970 to 2037 raises EStamp after the dialog has
    // closed, AlarmTime untouched.
    int Execute(AlarmRecord& alarm);

    // The time lists of the dialogs that pick a moment: hours "00" to "23",
    // minutes "00" to "55" in steps of five.
    static void FillTimeLists(QComboBox& hour, QComboBox& minute);
    // Shows `stamp` in a date edit and the time lists.
    static void ShowStamp(const TStamp& stamp, QDateEdit& date, QComboBox& hour, QComboBox& minute);
    // Sets `stamp` to the date shown, at 00:00:00 when not `timed`, else at the
    // hour and minute shown. Raises EStamp for a date outside 1970 to 2037.
    static void ReadStamp(TStamp& stamp, const QDateEdit& date, const QComboBox& hour, const QComboBox& minute,
                          bool timed);

private:
    std::unique_ptr<Ui::TfrmAlarmProperties> ui;
};
