#include "TfrmTrouble.h"
#include "ui_TfrmTrouble.h"

#include "AlarmRecord.h"
#include "DayEntryRecord.h"
#include "EQuorla.h"
#include "EStamp.h"
#include "RecordKey.h"
#include "TBusyCursor.h"
#include "TChangeLines.h"
#include "TChangeTrail.h"
#include "TCommand.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TServices.h"
#include "TStamp.h"
#include "TTrailVisibility.h"
#include "UserRecord.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QHash>
#include <QListWidget>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalBlocker>
#include <QStringList>
#include <QTabWidget>

#include <limits>
#include <optional>

namespace {


const QString Missing = QStringLiteral("ERR");
const QString NoChanges = QStringLiteral("No changes recorded for this choice");

// Replaces the list's lines by `lines` in one insertion, drawing suspended,
// so that a database of a hundred thousand records still lists promptly.
void showLines(QListWidget& list, const QStringList& lines)
{
    list.setUpdatesEnabled(false);
    const auto resume = qScopeGuard([&list] { list.setUpdatesEnabled(true); });
    list.clear();
    list.addItems(lines);
}

// The FullName of user `key`, or nothing when there is no such user; a read
// that fails is an error (TLookup), never "ERR" on a line. A list
// names few people many times: each is read once per fill, kept in `seen`.
std::optional<QString> fullNameOf(TXIsamFile& users, QHash<QString, std::optional<QString>>& seen,
                                  const QString& key)
{
    if (const auto it = seen.constFind(key); it != seen.constEnd())
        return *it;
    UserRecord user;
    std::optional<QString> name;
    if (TLookup::Equal(users, user.bytes(), TXIsamFile::PrimaryIndex, key))
        name = user.FullName();
    seen.insert(key, name);
    return name;
}

void rewind(TXIsamFile& dataset, qint16 index)
{
    if (!dataset.Rewind(index))
        throw EQuorla(dataset.ErrorText());
}

} // namespace

TfrmTrouble::TfrmTrouble(TServices services, QWidget* parent)
    : QDialog(parent), services_(services), ui(std::make_unique<Ui::TfrmTrouble>())
{
    ui->setupUi(this);
    // Resizable: the lines are as long as the names and descriptions make them.
    setSizeGripEnabled(true);
    // Long lists: every line has the same height, which spares measuring each.
    ui->lstAlarms->setUniformItemSizes(true);
    ui->lstEvents->setUniformItemSizes(true);
    connect(ui->pgTrouble, &QTabWidget::currentChanged, this, [this] { TCommand::Run(services_.person(), [this] { pgTroubleChange(); }); });
    connect(ui->btnClose, &QPushButton::clicked, this, [this] { done(1); });
    // A page of changes is short, and its lines differ in length: each is
    // measured, so that the list scrolls to the end of the longest.
    ui->lstChanges->setUniformItemSizes(false);
    const auto refill = [this] { TCommand::Run(services_.person(), [this] { FillChanges(false); }); };
    connect(ui->cmbChangesUser, &QComboBox::activated, this, refill);
    connect(ui->chkChangesDates, &QCheckBox::toggled, this, refill);
    connect(ui->cmbChangesFrom, &QDateEdit::dateChanged, this, refill);
    connect(ui->cmbChangesTo, &QDateEdit::dateChanged, this, refill);
    connect(ui->btnChangesMore, &QPushButton::clicked, this, [this] { TCommand::Run(services_.person(), [this] { FillChanges(true); }); });
}

TfrmTrouble::~TfrmTrouble() = default;

int TfrmTrouble::Execute(TQuorlaDB& database)
{
    Database = &database;
    Stamp = std::make_unique<TStamp>();
    const auto release = qScopeGuard([this] {
        Stamp.reset();
        Database = nullptr;
        // The lists of a large database are not kept while the dialog is shut.
        ui->lstAlarms->clear();
        ui->lstEvents->clear();
        ui->lstChanges->clear();
    });
    ui->lstEvents->clear();
    FillAlarms();
    {
        // The alarms were just read; showing their tab need not read them again.
        const QSignalBlocker quiet(ui->pgTrouble);
        ui->pgTrouble->setCurrentWidget(ui->tabAlarms);
    }
    return exec() == 1 ? 1 : 2;
}

void TfrmTrouble::pgTroubleChange()
{
    if (Database == nullptr)
        return;
    if (ui->pgTrouble->currentWidget() == ui->tabAlarms)
        FillAlarms();
    else if (ui->pgTrouble->currentWidget() == ui->tabEvents)
        FillEvents();
    else {
        FillChangeUsers();
        FillChanges(false);
    }
}

void TfrmTrouble::FillChangeUsers()
{
    const QString chosen = ui->cmbChangesUser->currentData().toString();
    const QSignalBlocker quiet(ui->cmbChangesUser);
    ui->cmbChangesUser->clear();
    ui->cmbChangesUser->addItem(QStringLiteral("<All users>"), QString());
    UserRecord user;
    TLookup::Each(Database->Users(), user.bytes(),
                  [&](const QString& key) { ui->cmbChangesUser->addItem(user.FullName(), key); });
    // Users who are gone, as the trail last named them: their changes stay.
    for (const auto& [key, name] : TChangeLines(*Database).FormerUsers())
        ui->cmbChangesUser->addItem(name, key);
    ui->cmbChangesUser->setCurrentIndex(std::max(0, ui->cmbChangesUser->findData(chosen)));
    if (!ui->chkChangesDates->isChecked()) {
        const QSignalBlocker quietFrom(ui->cmbChangesFrom);
        const QSignalBlocker quietTo(ui->cmbChangesTo);
        const QDate today = services_.machine().now().date();
        ui->cmbChangesFrom->setDate(today.addDays(-7));
        ui->cmbChangesTo->setDate(today);
    }
}

void TfrmTrouble::FillChanges(bool more)
{
    if (Database == nullptr)
        return;
    const TBusyCursor busy(services_.person());
    const bool dated = ui->chkChangesDates->isChecked();
    ui->cmbChangesFrom->setEnabled(dated);
    ui->cmbChangesTo->setEnabled(dated);
    TChangeTrail::TFilter filter;
    filter.userKey = ui->cmbChangesUser->currentData().toString();
    if (dated) {
        TStamp day;
        day.SetDateTime(ui->cmbChangesFrom->date().startOfDay());
        filter.from = day.Key();
        day.SetDateTime(ui->cmbChangesTo->date().startOfDay());
        filter.to = RecordKey::format(qint64(day.Seconds()) + 86399);
    }
    if (!more) {
        ui->lstChanges->clear();
        ChangesEnd.clear();
    }
    const QList<TChangeTrail::TEntry> page = Database->Trail().Latest(filter, ChangesEnd, PageSize);
    TChangeLines lines(*Database);
    QStringList shown;
    for (const TChangeTrail::TEntry& entry : TTrailVisibility(*Database, Database->ActingUser()).Page(page))
        shown << lines.Line(entry);
    if (!page.isEmpty())
        ChangesEnd = page.last().position;
    if (!more && page.isEmpty())
        shown << NoChanges;
    ui->lstChanges->addItems(shown);
    ui->btnChangesMore->setEnabled(page.size() == PageSize);
}

QString TfrmTrouble::TimeText(const QString& key)
{
    const qint64 seconds = RecordKey::parse(key);
    try {
        if (seconds < 0 || seconds > std::numeric_limits<qint32>::max())
            return Missing;
        Stamp->SetSeconds(qint32(seconds));
    } catch (const EStamp&) {
        return Missing;
    }
    return Stamp->AsString();
}

void TfrmTrouble::FillAlarms()
{
    const TBusyCursor busy(services_.person());
    TXIsamFile& alarms = Database->Alarms();
    TXIsamFile& users = Database->Users();
    TXIsamFile& entries = Database->DayEntries();
    QStringList lines;
    QHash<QString, std::optional<QString>> names;
    AlarmRecord alarm;
    DayEntryRecord entry;
    rewind(alarms, AlarmRecord::AlarmTimeIndex);
    while (TLookup::Next(alarms, alarm.bytes(), AlarmRecord::AlarmTimeIndex, QString(), TXIsamFile::ScanNext)) {
        QString line = QStringLiteral("Time = ") + TimeText(alarm.AlarmTime()) + QStringLiteral(", ");
        if (const auto name = fullNameOf(users, names, alarm.UserKey()))
            line += QStringLiteral("User = ") + *name + QStringLiteral(", ");
        else
            line += QStringLiteral("User = ERR, ");
        if (TLookup::Equal(entries, entry.bytes(), TXIsamFile::PrimaryIndex, alarm.DayEntryKey()))
            line += QStringLiteral("Description = ") + entry.Description();
        else
            line += QStringLiteral("Description = ERR");
        lines.append(line);
    }
    showLines(*ui->lstAlarms, lines);
}

void TfrmTrouble::FillEvents()
{
    const TBusyCursor busy(services_.person());
    TXIsamFile& entries = Database->DayEntries();
    TXIsamFile& users = Database->Users();
    QStringList lines;
    QHash<QString, std::optional<QString>> names;
    DayEntryRecord entry;
    rewind(entries, DayEntryRecord::StartTimeIndex);
    while (TLookup::Next(entries, entry.bytes(), DayEntryRecord::StartTimeIndex, QString(), TXIsamFile::ScanNext)) {
        QString line = QStringLiteral("Time = ") + TimeText(entry.StartTime()) + QStringLiteral(", ");
        // Without its owner the line says nothing of the entry either.
        if (const auto name = fullNameOf(users, names, entry.OwnerKey()))
            line += QStringLiteral("Owner = ") + *name + QStringLiteral(", Description = ")
                    + entry.Description();
        else
            line += QStringLiteral("Owner = ERR, Description = ERR");
        lines.append(line);
    }
    showLines(*ui->lstEvents, lines);
}
