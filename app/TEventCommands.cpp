#include "TEventCommands.h"

#include "AlarmRecord.h"
#include "DayEntryRecord.h"
#include "EQuorla.h"
#include "RecordKey.h"
#include "SeriesLinkRecord.h"
#include "SeriesRecord.h"
#include "TBusyCursor.h"
#include "TServices.h"
#include "TCommand.h"
#include "TCommandScope.h"
#include "TBookingWriter.h"
#include "TDetailsStore.h"
#include "TEventWriter.h"
#include "THolderNotes.h"
#include "TQuorlaCfg.h"
#include "TQuorlaDB.h"
#include "TRecordLock.h"
#include "TSeriesWriter.h"
#include "TStamp.h"
#include "TSession.h"
#include "TUserWriter.h"
#include "TViewNavigator.h"
#include "TOutageScreen.h"
#include "TResourcePicker.h"
#include "TfrmEvent.h"
#include "UserRecord.h"

#include <QScopeGuard>

#include <algorithm>
#include <array>
#include <exception>
#include <optional>
#include <utility>

namespace {

using Kind = TPersonServices::MessageKind;
using Buttons = TPersonServices::MessageButtons;
using Answer = TPersonServices::MessageAnswer;

const QString EditLocked = QStringLiteral("Unable to edit event properties. Another user has locked it");
const QString EditGone = QStringLiteral("Unable to edit event properties. Another user has deleted it");
const QString DeleteLocked = QStringLiteral("Unable to delete event. Another user has locked it");
const QString DeleteGone = QStringLiteral("Unable to delete event. Another user has deleted it");
const QString DeleteHidden = QStringLiteral("Unable to delete event. The series holds a private event of another user");
const QString DeleteChanged = QStringLiteral("Unable to delete event. Another user has changed it");
const QString AlarmLocked = QStringLiteral("Unable to delete alarm. Another user has locked it");
const QString EditAlarmLocked
    = QStringLiteral("Unable to save event properties. Another user has locked the alarm of %1\r\r"
                     "Nothing was saved: the event and its alarms are as they were.");

void tell(TPersonServices& person, const QString& text)
{
    person.message(Kind::Information, Buttons::Ok, text);
}

using Scope = TSeriesWriter::Scope;

QString momentKey(const QDate& day, const QTime& time)
{
    TStamp stamp;
    stamp.SetDateTime(day.year(), day.month(), day.day(), time.hour(), time.minute(), 0);
    return stamp.Key();
}

QDate dayOfKey(const QString& key)
{
    TStamp stamp;
    stamp.SetSeconds(qint32(RecordKey::parse(key)));
    return QDate(stamp.Year(), stamp.Month(), stamp.Day());
}

QDate today(TMachineServices& machine)
{
    return machine.now().date();
}

// A series' template from the edited entry and alarm: the alarm rings as far
// before each occurrence as the edited one does before the edited event.
void fillTemplate(SeriesRecord& series, const DayEntryRecord& entry, const AlarmRecord& alarm,
                  const TRecurrenceRule& rule)
{
    series.initialise();
    qint32 flags = 0;
    if (entry.Flags() & DayEntryRecord::Private)
        flags |= SeriesRecord::Private;
    if (alarm.Flags() & AlarmRecord::AlarmWanted)
        flags |= SeriesRecord::AlarmWanted;
    series.setFlags(flags);
    series.setOwnerKey(entry.OwnerKey());
    series.setCategoryKey(entry.CategoryKey());
    series.setDescription(entry.Description());
    series.setAssigneeKeys(entry.AssigneeKeys());
    series.setAlarmOffset(qint32(RecordKey::parse(entry.StartTime()) - RecordKey::parse(alarm.AlarmTime())));
    series.setRule(rule);
}

// The entry and alarm the editor shows for a series' change from `day`: its
// template on that day.
void showTemplate(TQuorlaDB& db, const SeriesRecord& series, const QDate& day, DayEntryRecord& entry,
                  AlarmRecord& alarm)
{
    const TRecurrenceRule rule = series.Rule();
    db.InitDayEntryRecord(entry);
    entry.setStartTime(momentKey(day, rule.UnTimed() ? QTime(0, 0) : rule.Time()));
    entry.setOwnerKey(series.OwnerKey());
    entry.setCategoryKey(series.CategoryKey());
    entry.setDescription(series.Description());
    entry.setAssigneeKeys(series.AssigneeKeys());
    entry.setFlags((rule.UnTimed() ? DayEntryRecord::UnTimed : 0)
                   | ((series.Flags() & SeriesRecord::Private) ? DayEntryRecord::Private : 0));
    db.InitAlarmRecord(alarm);
    alarm.setFlags((series.Flags() & SeriesRecord::AlarmWanted) ? AlarmRecord::AlarmWanted : 0);
    alarm.setAlarmTime(RecordKey::format(RecordKey::parse(entry.StartTime()) - series.AlarmOffset()));
}

} // namespace

const QString TEventCommands::NotDisplayed
    = QStringLiteral("This entry will not be displayed due to your privaledges / filtering options");

const QString TEventCommands::MailFailed = QStringLiteral("Unable to send EMail as requested");

const QString TEventCommands::ChangeWhich = QStringLiteral("\"%1\" repeats. Which events do you want to change?");
const QString TEventCommands::DeleteWhich = QStringLiteral("\"%1\" repeats. Which events do you want to delete?");
const QStringList TEventCommands::SeriesChoices{QStringLiteral("This event"), QStringLiteral("This and following events"),
                                                QStringLiteral("All events in the series")};
const QString TEventCommands::SeriesLocked
    = QStringLiteral("Unable to change the repeating event. Another workstation is changing it; try again shortly");
const QString TEventCommands::SeriesNoRight
    = QStringLiteral("Unable to change the repeating event. Its events belong to a user whose events you may not change");
const QString TEventCommands::SeriesPrivate = QStringLiteral(
    "Unable to change the repeating event. It is private to its assignees; only this event can be changed");
const QString TEventCommands::SeriesKeepsRepeat = QStringLiteral(
    "A repeating event cannot be set to not repeat. To end it, delete this and following events");
const QString TEventCommands::SeriesPartsRepeat = QStringLiteral(
    "This repeating event was split into parts that repeat each in its own way: for all its events only the "
    "description, category, users, privacy, alarm and time can be changed. To change how a part repeats, "
    "change this and following events from its first event. Nothing was saved");
const QString TEventCommands::SeriesUnavailable
    = QStringLiteral("Repeating events cannot be stored in this database. Nothing was saved");
const QString TEventCommands::SeriesNotBooked
    = QStringLiteral("The repeating event was saved. These occurrences meet other bookings and go without "
                     "those resources:");
const QString TEventCommands::SeriesLeft
    = QStringLiteral("These events are open on other workstations and were left as they were; they no longer "
                     "follow their series:");

TEventCommands::TEventCommands(TServices services, TOutageScreen& screen, TSession& session, TViewNavigator& views)
    : services_(services), screen_(screen), session_(session), views_(views)
{
}

void TEventCommands::UseEditor(TfrmEvent& frmEvent)
{
    Editor = [this, &frmEvent](bool isEdit, bool userSelection, DayEntryRecord& entry, AlarmRecord& alarm,
                               TDesktopServices::MailMessage& mail) {
        frmEvent.EnableUserSelection(userSelection);
        frmEvent.SetEntryKey(isEdit ? editing_ : QString());
        frmEvent.SetRepeat(Repeat.rule, Repeat.editable, Repeat.seriesKey);
        frmEvent.SetDetails(Details);
        frmEvent.Resources().Load(*session_.Database(), Resources);
        // OK saves while the editor is open, with the repeat chosen.
        frmEvent.SetSave(!Saving ? std::function<bool()>() : std::function<bool()>([this, &frmEvent] {
            Repeat.rule = frmEvent.Rule();
            Details = frmEvent.Details();
            Resources = frmEvent.Resources().Chosen();
            return Saving();
        }));
        const int result
            = frmEvent.Execute(isEdit, entry, alarm, *session_.Database(), session_.CurrentUserKey(), *session_.Settings());
        mail = frmEvent.Mail();
        Repeat.rule = result == 1 ? frmEvent.Rule() : std::nullopt;
        if (result == 1) {
            Details = frmEvent.Details();
            Resources = frmEvent.Resources().Chosen();
        }
        return result;
    };
}

bool TEventCommands::EditUntilSaved(bool isEdit, bool userSelection, DayEntryRecord& entry, AlarmRecord& alarm,
                                    TDesktopServices::MailMessage& mail, const std::function<bool()>& save)
{
    std::exception_ptr lost;
    bool over = false;
    const auto attempt = [&] {
        try {
            over = save();
        } catch (const EQuorla& error) {
            // The change may be there: not tried again; passed on once the
            // editor is closed, and the views refreshed.
            over = error.message() == QString::fromLatin1(TCommandScope::LostWhileSaving);
            // Otherwise it is shown, and tried again from the editor, which
            // stays open with what was typed.
            if (over)
                lost = std::current_exception();
            else
                screen_.ShowFailedSave(error.message());
        }
        return over;
    };
    const auto forget = qScopeGuard([this] { Saving = nullptr; });
    for (;;) {
        Saving = attempt;
        const int edited = Editor(isEdit, userSelection, entry, alarm, mail);
        if (edited != 1 && !over)
            return false;
        if (!over)
            attempt();
        if (lost)
            std::rethrow_exception(lost);
        if (over)
            return true;
    }
}

void TEventCommands::TellIfHidden(const DayEntryRecord& entry)
{
    if (!session_.EntryVisible(entry))
        tell(services_.person(), NotDisplayed);
}

void TEventCommands::HandOff(const TDesktopServices::MailMessage& mail)
{
    if (mail.recipients.isEmpty())
        return;
    services_.desktop().sendMail(mail, [&person = services_.person()](const TDesktopServices::HandOffResult& result) {
        if (result.outcome == TDesktopServices::Outcome::Done)
            return;
        TCommand::Run(person, [&person, &result] {
            tell(person, result.errorText.isEmpty() ? MailFailed : MailFailed + QStringLiteral("\r\r") + result.errorText);
        });
    });
}

void TEventCommands::actEventNewExecute()
{
    TQuorlaDB* db = session_.Database();
    if (db == nullptr || !Editor)
        return;
    DayEntryRecord entry;
    db->InitDayEntryRecord(entry);
    entry.setStartTime(views_.SelectedDateKey());
    entry.setOwnerKey(session_.CurrentUserKey());
    const bool chooseUsers = session_.MayAddForOthers();
    // Without the right to add entries for others, the entry is his own.
    if (!chooseUsers)
        entry.setAssignee(0, session_.CurrentUserKey());
    AlarmRecord alarm;
    db->InitAlarmRecord(alarm);
    alarm.setAlarmTime(entry.StartTime());
    TDesktopServices::MailMessage mail;
    Repeat = {};
    Details = {};
    Resources = {};
    bool unavailable = false;
    const auto save = [&] {
        if (Repeat.rule) {
            SeriesRecord series;
            fillTemplate(series, entry, alarm, *Repeat.rule);
            TSeriesWriter::TOutcome outcome;
            {
                TBusyCursor busy(services_.person());
                outcome = TSeriesWriter(*db).Create(series, today(services_.machine()), {}, Details);
            }
            unavailable = outcome.result != TSeriesWriter::Result::Done;
            if (!unavailable)
                BookSeries(*db, outcome.seriesKey);
        } else {
            TBusyCursor busy(services_.person());
            TEventWriter(*db).insertEntryWithAlarms(entry, alarm, {}, Details, Resources);
        }
        return true;
    };
    if (!EditUntilSaved(false, chooseUsers, entry, alarm, mail, save))
        return;
    if (unavailable) {
        tell(services_.person(), SeriesUnavailable);
        return;
    }
    HandOff(mail);
    TellIfHidden(entry);
    views_.RefreshView();
}

void TEventCommands::actEventPropertiesExecute()
{
    TQuorlaDB* db = session_.Database();
    const QString key = views_.SelectedPk();
    if (db == nullptr || !Editor || RecordKey::isNone(key))
        return;
    TSeriesWriter series(*db);
    SeriesLinkRecord link;
    bool cancelled = false;
    const std::optional<Scope> scope = AskScope(series, key, ChangeWhich, link, cancelled);
    if (cancelled)
        return;
    if (scope && *scope != Scope::ThisOne) {
        EditSeries(series, link, *scope);
        return;
    }
    // An occurrence changed alone shows its series' repeat, unchangeable,
    // where the user may see the series; a plain entry stays one.
    Repeat = {std::nullopt, false, QString()};
    if (scope) {
        SeriesRecord record;
        if (series.ReadSeries(link.SeriesKey(), record) && session_.SeriesVisible(record))
            Repeat.rule = record.Rule();
    }
    DayEntryRecord entry;
    TDesktopServices::MailMessage mail;
    {
        TEventWriter writer(*db);
        TEntryEdit edit{*db, writer, series, key, scope.has_value()};
        AlarmRecord alarm;
        if (!OpenToEdit(edit, entry, alarm))
            return;
        Details = TDetailsStore(*db).Entry(key);
        TRecordWriter records;
        Resources = TBookingWriter(*db, records).ResourcesOf(key);
        const auto save = [&] {
            TBusyCursor busy(services_.person());
            SaveEdited(edit, entry, alarm);
            return true;
        };
        editing_ = key;
        const auto closed = qScopeGuard([this] { editing_.clear(); });
        const bool edited = EditUntilSaved(true, session_.MayAddForOthers(), entry, alarm, mail, save);
        if (!TellSaved(edit, edited))
            return;
        if (!edited)
            mail = {};
    }
    HandOff(mail);
    TellIfHidden(entry);
    views_.RefreshView();
}

bool TEventCommands::OpenToEdit(TEntryEdit& edit, DayEntryRecord& entry, AlarmRecord& alarm)
{
    bool hadAlarm = false;
    // Held while the editor is open, so no other workstation edits or
    // deletes the entry meanwhile.
    switch (edit.writer.openEntry(edit.key, edit.lock, entry, alarm, hadAlarm)) {
    case TEventWriter::Result::EntryLocked:
        tell(services_.person(), THolderNotes::WithHolder(EditLocked, edit.writer.LockHolder()));
        return false;
    case TEventWriter::Result::Gone:
        // The screen showed an entry that is no longer there.
        tell(services_.person(), EditGone);
        views_.RefreshView();
        return false;
    default:
        break;
    }
    // The alarm time the entry has: kept as it is, it keeps each
    // assignee's alarm as it stands.
    edit.openedAlarmTime = hadAlarm ? alarm.AlarmTime() : QString();
    if (!hadAlarm) {
        edit.db.InitAlarmRecord(alarm);
        alarm.setAlarmTime(views_.SelectedDateKey());
    }
    return true;
}

void TEventCommands::SaveEdited(TEntryEdit& edit, const DayEntryRecord& entry, AlarmRecord& alarm)
{
    // After a failed save the editor stays open with what was typed; the
    // entry's lock, which a lost session took with it, is taken again
    // before the next save.
    if (std::exchange(edit.relock, false)) {
        edit.lock.reset();
        edit.lock.emplace(edit.db.DayEntries(), edit.key, &edit.db.Holders());
        if (!edit.lock->Held()) {
            edit.refusal = THolderNotes::WithHolder(EditLocked, edit.lock->HolderLine());
            edit.lock.reset();
            return;
        }
    }
    // Until this save is through.
    edit.relock = true;
    // The occurrence becomes an exception that series changes leave as it
    // is. One that a deletion of its series left while it was open here is
    // a plain entry by now, and saved as one.
    using Series = TSeriesWriter::Result;
    Series one = edit.inSeries ? edit.series.ChangeOne(edit.key, entry, alarm, edit.openedAlarmTime, Details).result
                               : Series::NotInSeries;
    if (one == Series::Unavailable)
        one = Series::NotInSeries;
    if (one == Series::SeriesLocked)
        edit.refusal = SeriesLocked;
    else if (one == Series::EntryLocked)
        edit.refusal = EditAlarmLocked.arg(QStringLiteral("one of its users"));
    if (one == Series::Done) {
        // Its own choice of resources, over its own time.
        TRecordWriter records;
        TBookingWriter(edit.db, records).BookEntry(edit.key, Resources);
    }
    if (one != Series::NotInSeries) {
        edit.saved = one == Series::Gone ? TEventWriter::Result::Gone : TEventWriter::Result::Done;
    } else {
        // Every alarm lock before any write: a lock held elsewhere leaves
        // the entry and all its alarms as they were, and the user is told
        // that nothing of his edit was kept.
        edit.saved = edit.writer.updateEntryWithAlarms(edit.key, entry, alarm, edit.openedAlarmTime, Details, Resources);
    }
    edit.relock = false;
}

bool TEventCommands::TellSaved(const TEntryEdit& edit, bool edited)
{
    if (!edit.refusal.isEmpty()) {
        tell(services_.person(), edit.refusal);
        return false;
    }
    if (!edited || edit.saved == TEventWriter::Result::Done)
        return true;
    if (edit.saved == TEventWriter::Result::Gone) {
        tell(services_.person(), EditGone);
        views_.RefreshView();
        return false;
    }
    UserRecord user;
    const QString userKey = edit.writer.LockedAlarmUser();
    const QString name = TUserWriter(edit.db.Users()).readUser(userKey, user) ? user.FullName()
                                                                               : QStringLiteral("user ") + userKey;
    tell(services_.person(), THolderNotes::WithHolder(EditAlarmLocked.arg(name), edit.writer.LockHolder()));
    return false;
}

void TEventCommands::actEventDeleteExecute()
{
    TQuorlaDB* db = session_.Database();
    const QString key = views_.SelectedPk();
    if (db == nullptr || RecordKey::isNone(key))
        return;
    const QString description = views_.SelectedDescription();
    {
        // On an occurrence the three-way question is the confirmation.
        TSeriesWriter series(*db);
        SeriesLinkRecord link;
        bool cancelled = false;
        const std::optional<Scope> scope = AskScope(series, key, DeleteWhich, link, cancelled);
        if (cancelled)
            return;
        if (scope) {
            DeleteSeries(series, link, *scope);
            return;
        }
    }
    const QString question = QStringLiteral("Delete event \"%1\". Are you sure?").arg(description);
    if (services_.person().message(Kind::Confirmation, Buttons::YesNo, question) != Answer::Yes)
        return;
    TEventWriter::Result result;
    TEventWriter writer(*db);
    {
        TBusyCursor busy(services_.person());
        // Only the entry the user confirmed: one changed or deleted elsewhere
        // since the screen showed it is left alone.
        result = writer.deleteEntryWithAlarms(key, description);
    }
    switch (result) {
    case TEventWriter::Result::EntryLocked:
        tell(services_.person(), THolderNotes::WithHolder(DeleteLocked, writer.LockHolder()));
        return;
    case TEventWriter::Result::AlarmLocked:
        tell(services_.person(), AlarmLocked);
        return;
    case TEventWriter::Result::Gone:
        tell(services_.person(), DeleteGone);
        break;
    case TEventWriter::Result::Changed:
        tell(services_.person(), DeleteChanged);
        break;
    default:
        break;
    }
    views_.RefreshView();
}

std::optional<TSeriesWriter::Scope> TEventCommands::AskScope(TSeriesWriter& series, const QString& key,
                                                             const QString& question, SeriesLinkRecord& link,
                                                             bool& cancelled)
{
    cancelled = false;
    if (!series.Available() || !series.LinkOf(key, link))
        return std::nullopt;
    const int chosen = services_.person().choose(question.arg(views_.SelectedDescription()), SeriesChoices);
    if (chosen < 0 || chosen >= SeriesChoices.size()) {
        cancelled = true;
        return std::nullopt;
    }
    return std::array{Scope::ThisOne, Scope::ThisAndFollowing, Scope::EveryPart}[std::size_t(chosen)];
}

bool TEventCommands::ReadSeriesToChange(TSeriesWriter& series, const SeriesLinkRecord& link, SeriesRecord& record,
                                        const QString& gone)
{
    if (!series.ReadSeries(link.SeriesKey(), record)) {
        tell(services_.person(), gone);
        views_.RefreshView();
        return false;
    }
    if (!session_.MayChange(record.OwnerKey())) {
        tell(services_.person(), SeriesNoRight);
        return false;
    }
    return true;
}

void TEventCommands::TellLeft(const QList<TSeriesWriter::THeld>& held)
{
    if (held.isEmpty())
        return;
    QStringList lines{SeriesLeft};
    for (const TSeriesWriter::THeld& one : held)
        lines << one.day.toString(QStringLiteral("dd/MM/yy")) + QStringLiteral(": ")
                + (one.holder.isEmpty() ? QStringLiteral("open on another workstation") : one.holder);
    tell(services_.person(), lines.join(QLatin1Char('\r')));
}

void TEventCommands::EditSeries(TSeriesWriter& series, const SeriesLinkRecord& link, TSeriesWriter::Scope scope)
{
    TQuorlaDB& db = *session_.Database();
    SeriesRecord record;
    if (!ReadSeriesToChange(series, link, record, EditGone))
        return;
    // The editor shows the template: never one the user may not see.
    if (!session_.SeriesVisible(record)) {
        tell(services_.person(), SeriesPrivate);
        return;
    }
    // All shows the series from its first day; this and following from the
    // occurrence's, where the changed series will start.
    const TRecurrenceRule rule = record.Rule();
    const QDate day = dayOfKey(link.DayKey());
    DayEntryRecord entry;
    AlarmRecord alarm;
    showTemplate(db, record, scope == Scope::ThisAndFollowing ? day : rule.Start(), entry, alarm);
    Repeat = {rule, true, link.SeriesKey()};
    Details = TDetailsStore(db).Series(link.SeriesKey());
    TRecordWriter records;
    Resources = TBookingWriter(db, records).ResourcesOfSeries(link.SeriesKey());
    if (scope == Scope::ThisAndFollowing) {
        // The series from this day on: an end after N occurrences counts
        // the ones left, so that the days stay the same unless changed.
        Repeat.rule->setStart(day);
        if (rule.end() == TRecurrenceRule::End::AfterCount)
            Repeat.rule->setCount(std::max(1, rule.Count() - int(rule.Days(rule.Start(), day.addDays(-1)).size())));
    }
    TDesktopServices::MailMessage mail;
    TSeriesWriter::TOutcome outcome;
    bool keepsRepeat = false;
    const auto save = [&] {
        keepsRepeat = !Repeat.rule;
        if (keepsRepeat)
            return true;
        SeriesRecord changed;
        fillTemplate(changed, entry, alarm, *Repeat.rule);
        {
            TBusyCursor busy(services_.person());
            outcome = series.Change(link.SeriesKey(), scope, day, changed, today(services_.machine()),
                                    TSeriesWriter::HeldOccurrences::Leave, QString(), Details);
        }
        if (outcome.result != TSeriesWriter::Result::PartsRepeat)
            return true;
        // Kept open with what was typed.
        tell(services_.person(), SeriesPartsRepeat);
        return false;
    };
    if (!EditUntilSaved(true, session_.MayAddForOthers(), entry, alarm, mail, save))
        return;
    if (keepsRepeat) {
        tell(services_.person(), SeriesKeepsRepeat);
        return;
    }
    switch (outcome.result) {
    case TSeriesWriter::Result::Done:
        break;
    case TSeriesWriter::Result::SeriesLocked:
        tell(services_.person(), SeriesLocked);
        return;
    case TSeriesWriter::Result::Gone:
        tell(services_.person(), EditGone);
        views_.RefreshView();
        return;
    default:
        tell(services_.person(), SeriesUnavailable);
        return;
    }
    BookSeries(db, outcome.seriesKey);
    TellLeft(outcome.held);
    HandOff(mail);
    TellIfHidden(entry);
    views_.RefreshView();
}

void TEventCommands::BookSeries(TQuorlaDB& db, const QString& seriesKey)
{
    TRecordWriter records;
    const QStringList left = TBookingWriter(db, records).BookSeries(seriesKey, Resources);
    if (!left.isEmpty())
        tell(services_.person(), SeriesNotBooked + QLatin1Char('\r') + left.join(QLatin1Char('\r')));
}

void TEventCommands::DeleteSeries(TSeriesWriter& series, const SeriesLinkRecord& link, TSeriesWriter::Scope scope)
{
    SeriesRecord record;
    if (!ReadSeriesToChange(series, link, record, DeleteGone))
        return;
    TSeriesWriter::TOutcome outcome;
    {
        TBusyCursor busy(services_.person());
        // One occurrence open elsewhere refuses its own deletion; the wider
        // ones leave it and say so.
        outcome = series.Delete(link.SeriesKey(), scope, dayOfKey(link.DayKey()),
                                scope == Scope::ThisOne ? TSeriesWriter::HeldOccurrences::Refuse
                                                        : TSeriesWriter::HeldOccurrences::Leave);
    }
    switch (outcome.result) {
    case TSeriesWriter::Result::Done:
        TellLeft(outcome.held);
        break;
    case TSeriesWriter::Result::EntryLocked:
    case TSeriesWriter::Result::Held:
        tell(services_.person(), THolderNotes::WithHolder(DeleteLocked, outcome.held.isEmpty() ? QString() : outcome.held.first().holder));
        return;
    case TSeriesWriter::Result::SeriesLocked:
        tell(services_.person(), SeriesLocked);
        return;
    case TSeriesWriter::Result::Hidden:
        tell(services_.person(), DeleteHidden);
        return;
    case TSeriesWriter::Result::Gone:
    case TSeriesWriter::Result::NotInSeries:
        tell(services_.person(), DeleteGone);
        break;
    default:
        tell(services_.person(), SeriesUnavailable);
        return;
    }
    views_.RefreshView();
}
