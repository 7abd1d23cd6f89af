#include "TfrmAlarmProperties.h"
#include "ui_TfrmAlarmProperties.h"

#include "AlarmRecord.h"
#include "RecordKey.h"
#include "TStamp.h"

TfrmAlarmProperties::TfrmAlarmProperties(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TfrmAlarmProperties>())
{
    ui->setupUi(this);
    FillTimeLists(*ui->cmbHour, *ui->cmbMinute);
    connect(ui->btnClose, &QPushButton::clicked, this, [this] { done(1); });
}

TfrmAlarmProperties::~TfrmAlarmProperties() = default;

void TfrmAlarmProperties::FillTimeLists(QComboBox& hour, QComboBox& minute)
{
    hour.clear();
    for (int h = 0; h < 24; ++h)
        hour.addItem(QStringLiteral("%1").arg(h, 2, 10, QLatin1Char('0')));
    minute.clear();
    for (int m = 0; m < 60; m += 5)
        minute.addItem(QStringLiteral("%1").arg(m, 2, 10, QLatin1Char('0')));
}

void TfrmAlarmProperties::ShowStamp(const TStamp& stamp, QDateEdit& date, QComboBox& hour, QComboBox& minute)
{
    date.setDate(stamp.AsDateTime().date());
    hour.setCurrentIndex(stamp.Hour());
    minute.setCurrentIndex(stamp.Minute() / 5);
}

void TfrmAlarmProperties::ReadStamp(TStamp& stamp, const QDateEdit& date, const QComboBox& hour,
                                    const QComboBox& minute, bool timed)
{
    stamp.SetDateTime(QDateTime(date.date(), QTime(0, 0)));
    stamp.TruncateToDay();
    if (!timed)
        return;
    stamp.Increment(TStamp::IncHours, hour.currentIndex());
    stamp.Increment(TStamp::IncMinutes, minute.currentIndex() * 5);
}

int TfrmAlarmProperties::Execute(AlarmRecord& alarm)
{
    TStamp stamp;
    stamp.SetSeconds(static_cast<qint32>(RecordKey::parse(alarm.AlarmTime())));
    ShowStamp(stamp, *ui->cmbDate, *ui->cmbHour, *ui->cmbMinute);
    ui->cmbDate->setFocus();
    if (exec() != 1)
        return 2;
    ReadStamp(stamp, *ui->cmbDate, *ui->cmbHour, *ui->cmbMinute, true);
    alarm.setAlarmTime(stamp.Key());
    return 1;
}
