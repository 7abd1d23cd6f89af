#include "TEventBusy.h"

#include "DayEntryRecord.h"
#include "TBusyStrip.h"
#include "TCommand.h"
#include "TFindTime.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TSeriesOverlaps.h"
#include "TStamp.h"
#include "TUserCheckList.h"
#include "TWorkingHours.h"
#include "TfrmAlarmProperties.h"
#include "UserRecord.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QTimeEdit>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr qint64 Day = 86400;
constexpr qint64 Hour = 3600;

qint64 secondsOf(const QTime& time)
{
    return time.msecsSinceStartOfDay() / 1000;
}

QString shownMoment(qint64 seconds, const QString& picture)
{
    TStamp stamp;
    stamp.SetSeconds(qint32(seconds));
    return TStamp::FormatDateTime(picture, stamp.AsDateTime());
}

} // namespace

const QString TEventBusy::NoFreeTime = QStringLiteral("No time when all are free in the next %1 weeks").arg(WeeksSearched);

TEventBusy::TEventBusy(TServices services, const TControls& controls, std::function<TContext()> context, QWidget* parent)
    : QGroupBox(QStringLiteral("Free and busy"), parent), services_(services), controls_(controls),
      context_(std::move(context)), strip_(new TBusyStrip(this)),
      btnFindTime_(new QPushButton(QStringLiteral("Find a &time"), this)), cmbFreeTimes_(new QComboBox(this))
{
    setObjectName(QStringLiteral("grpBusy"));
    strip_->setObjectName(QStringLiteral("stripBusy"));
    btnFindTime_->setObjectName(QStringLiteral("btnFindTime"));
    btnFindTime_->setAutoDefault(false);
    btnFindTime_->setToolTip(QStringLiteral("Propose the next times within the office's working hours when all the "
                                            "event's users are free"));
    cmbFreeTimes_->setObjectName(QStringLiteral("cmbFreeTimes"));
    cmbFreeTimes_->setToolTip(QStringLiteral("Choose a proposed time for the event"));
    cmbFreeTimes_->setEnabled(false);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnFindTime_);
    buttons->addWidget(cmbFreeTimes_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(strip_);
    layout->addLayout(buttons);
    refresh_.setSingleShot(true);
    refresh_.setInterval(0);
    connect(&refresh_, &QTimer::timeout, this, [this] { TCommand::Run(services_.person(), [this] { Refresh(); }); });
    connect(btnFindTime_, &QPushButton::clicked, this,
            [this] { TCommand::Run(services_.person(), [this] { btnFindTimeClick(); }); });
    connect(cmbFreeTimes_, &QComboBox::activated, this,
            [this](int index) { TCommand::Run(services_.person(), [this, index] { cmbFreeTimesActivated(index); }); });
    connect(controls_.date, &QDateEdit::dateChanged, this, &TEventBusy::refreshSoon);
    connect(controls_.hour, &QComboBox::currentIndexChanged, this, &TEventBusy::refreshSoon);
    connect(controls_.minute, &QComboBox::currentIndexChanged, this, &TEventBusy::refreshSoon);
    connect(controls_.unTimed, &QCheckBox::toggled, this, &TEventBusy::refreshSoon);
    connect(controls_.endDate, &QDateEdit::dateChanged, this, &TEventBusy::refreshSoon);
    connect(controls_.endTime, &QTimeEdit::timeChanged, this, &TEventBusy::refreshSoon);
    connect(controls_.users, &QListWidget::itemChanged, this, &TEventBusy::refreshSoon);
    connect(controls_.users->model(), &QAbstractItemModel::modelReset, this, &TEventBusy::refreshSoon);
}

void TEventBusy::UseResources(std::function<QList<TResource>()> chosen, TBusyTimes::TBookingsReader bookings)
{
    resources_ = std::move(chosen);
    bookings_ = std::move(bookings);
    refreshSoon();
}

void TEventBusy::refreshSoon()
{
    // Once after a burst of changes (a group ticks many users).
    refresh_.start();
}

std::pair<qint64, qint64> TEventBusy::shownEvent() const
{
    const bool timed = !controls_.unTimed->isChecked();
    TStamp start;
    TfrmAlarmProperties::ReadStamp(start, *controls_.date, *controls_.hour, *controls_.minute, timed);
    const QDate endDay = std::max(controls_.endDate->date(), controls_.date->date());
    if (!timed)
        return {start.Seconds(), start.Seconds() + (controls_.date->date().daysTo(endDay) + 1) * Day};
    TStamp end;
    const QTime endTime = controls_.endTime->time();
    end.SetDateTime(endDay.year(), endDay.month(), endDay.day(), endTime.hour(), endTime.minute(), 0);
    const qint64 last = end.Seconds() > start.Seconds() ? end.Seconds() : start.Seconds() + TBusyTimes::PointLength;
    return {start.Seconds(), last};
}

QStringList TEventBusy::tickedUsers(QStringList* names) const
{
    QStringList keys;
    for (int row = 0; row < controls_.users->count(); ++row) {
        const QListWidgetItem& item = *controls_.users->item(row);
        if (!TUserCheckList::Ticked(item))
            continue;
        keys << TUserCheckList::Key(item);
        if (names)
            *names << item.text();
    }
    return keys;
}

std::unique_ptr<TBusyTimes> TEventBusy::times(const TContext& context) const
{
    if (!context.database)
        return nullptr;
    UserRecord reader;
    TLookup::Equal(context.database->Users(), reader.bytes(), TXIsamFile::PrimaryIndex, context.readerKey);
    auto times = std::make_unique<TBusyTimes>(*context.database, reader, context.readerKey);
    times->SetBookingsReader(bookings_);
    return times;
}

void TEventBusy::Refresh()
{
    const TContext context = context_();
    const std::unique_ptr<TBusyTimes> reader = times(context);
    if (!reader) {
        strip_->setRows({});
        return;
    }
    const auto [start, end] = shownEvent();
    const qint64 day = start - start % Day;
    const TWorkingHours hours = TWorkingHours::Of(*context.database);
    const qint64 opens = day + secondsOf(hours.start);
    const qint64 closes = day + secondsOf(hours.end);
    // The working day, widened to the event's time and to whole hours.
    const qint64 from = std::max(day, std::min(opens, start) / Hour * Hour);
    const qint64 to = std::min(day + Day, (std::max(closes, end) + Hour - 1) / Hour * Hour);
    const QStringList leaveOut = context.entryKey.isEmpty() ? QStringList() : QStringList{context.entryKey};
    QStringList names;
    const QStringList users = tickedUsers(&names);
    const QHash<QString, QList<TBusyInterval>> people = reader->People(users, day, day + Day, leaveOut);
    QList<TBusyStrip::TRow> rows;
    for (int i = 0; i < users.size(); ++i)
        rows.append({names[i], people.value(users[i])});
    const QList<TResource> resources = resources_ ? resources_() : QList<TResource>();
    QStringList resourceKeys;
    for (const TResource& resource : resources)
        resourceKeys << resource.key;
    const QHash<QString, QList<TBusyInterval>> booked = reader->Resources(resourceKeys, day, day + Day, leaveOut);
    for (const TResource& resource : resources)
        rows.append({resource.name, booked.value(resource.key)});
    strip_->setDay(from, to, opens, closes);
    strip_->setRows(rows);
    strip_->setEvent(start, end);
}

void TEventBusy::btnFindTimeClick()
{
    const TContext context = context_();
    const std::unique_ptr<TBusyTimes> reader = times(context);
    if (!reader)
        return;
    const bool timed = !controls_.unTimed->isChecked();
    const auto [start, end] = shownEvent();
    const TWorkingHours hours = TWorkingHours::Of(*context.database);
    // An un-timed event asks for a working day free from start to end.
    const qint64 length = timed ? end - start : secondsOf(hours.end) - secondsOf(hours.start);
    const qint64 from = std::max(start - start % Day, qint64(TStamp().Seconds()));
    QStringList resourceKeys;
    for (const TResource& resource : resources_ ? resources_() : QList<TResource>())
        resourceKeys << resource.key;
    const QList<qint64> found
        = TFindTime::Search(*reader, tickedUsers(), resourceKeys, hours, length, from, from + WeeksSearched * 7 * Day,
                            TimesOffered, context.entryKey.isEmpty() ? QStringList() : QStringList{context.entryKey});
    cmbFreeTimes_->clear();
    for (const qint64 slot : found)
        cmbFreeTimes_->addItem(timed ? shownMoment(slot, QStringLiteral("ddd dd/mm/yyyy hh:nn")) + QLatin1Char('-')
                                           + shownMoment(slot + length, QStringLiteral("hh:nn"))
                                     : shownMoment(slot, QStringLiteral("ddd dd/mm/yyyy")),
                               slot);
    if (found.isEmpty())
        cmbFreeTimes_->addItem(NoFreeTime);
    cmbFreeTimes_->setEnabled(!found.isEmpty());
}

void TEventBusy::cmbFreeTimesActivated(int index)
{
    const QVariant slot = cmbFreeTimes_->itemData(index);
    if (!slot.isValid())
        return;
    TStamp start;
    start.SetSeconds(qint32(slot.toLongLong()));
    if (controls_.unTimed->isChecked())
        controls_.date->setDate(start.AsDateTime().date());
    else
        TfrmAlarmProperties::ShowStamp(start, *controls_.date, *controls_.hour, *controls_.minute);
}

QString TEventBusy::describe(const TBusyInterval& busy) const
{
    const QString what = busy.hidden ? QStringLiteral("a private event") : QLatin1Char('"') + busy.text + QLatin1Char('"');
    return what + QStringLiteral(", ") + shownMoment(busy.start, QStringLiteral("ddd dd/mm/yyyy hh:nn")) + QLatin1Char('-')
        + shownMoment(busy.end, busy.end - busy.start < Day ? QStringLiteral("hh:nn") : QStringLiteral("ddd dd/mm/yyyy hh:nn"));
}

bool TEventBusy::AgreedToOverlaps(const DayEntryRecord& entry, const TEntryDetails& details,
                                  const std::optional<TRecurrenceRule>& rule)
{
    // A failed read is shown, and nothing saved.
    bool agreed = false;
    return TCommand::Run(services_.person(), [&] { agreed = askOverlaps(entry, details, rule); }) && agreed;
}

bool TEventBusy::askOverlaps(const DayEntryRecord& entry, const TEntryDetails& details,
                             const std::optional<TRecurrenceRule>& rule)
{
    const TContext context = context_();
    const std::unique_ptr<TBusyTimes> reader = times(context);
    if (!reader)
        return true;
    TSeriesOverlaps::TFound found;
    if (rule)
        found = TSeriesOverlaps(*context.database, *reader)
                    .Find(entry, details, *rule, services_.machine().now().date(), context.seriesKey,
                          context.entryKey, DaysNamed);
    else
        found.first = reader->Overlaps(entry, details, context.entryKey);
    if (found.first.isEmpty())
        return true;
    QStringList names;
    const QStringList users = tickedUsers(&names);
    QStringList lines;
    for (const TBusyTimes::TOverlap& overlap : found.first)
        lines << names.value(users.indexOf(overlap.userKey), overlap.userKey) + QStringLiteral(": ")
                     + describe(overlap.other);
    if (found.days > DaysNamed)
        lines << QStringLiteral("and on %1 more days").arg(found.days - DaysNamed);
    const QString question = QStringLiteral("Some of the event's users have other events at its time:\r")
        + lines.join(QLatin1Char('\r')) + QStringLiteral("\r\rSave the event all the same?");
    return services_.person().message(TPersonServices::MessageKind::Confirmation,
                                      TPersonServices::MessageButtons::YesNo, question)
        == TPersonServices::MessageAnswer::Yes;
}
