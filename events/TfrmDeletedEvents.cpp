#include "TfrmDeletedEvents.h"
#include "ui_TfrmDeletedEvents.h"

#include "RecordKey.h"
#include "TBin.h"
#include "TBinRestore.h"
#include "TCommand.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TStamp.h"
#include "UserRecord.h"

#include <QPushButton>

namespace {

using Kind = TPersonServices::MessageKind;
using Buttons = TPersonServices::MessageButtons;

const QString NothingDeleted = QStringLiteral("No deleted events are kept.");

QString moment(const QString& timeKey, bool withTime)
{
    TStamp stamp;
    stamp.SetSeconds(qint32(RecordKey::parse(timeKey)));
    const QDateTime at = stamp.AsDateTime();
    return withTime ? at.toString(QStringLiteral("yyyy-MM-dd hh:mm")) : at.toString(QStringLiteral("yyyy-MM-dd"));
}

// What the person is told when a restore does not happen.
QString refusal(TBinRestore::Result result, const QString& holder)
{
    switch (result) {
    case TBinRestore::Result::Locked:
        return QStringLiteral("Unable to restore the event. Another user has locked it")
            + (holder.isEmpty() ? QString() : QStringLiteral("\r\r") + holder);
    case TBinRestore::Result::Gone:
        return QStringLiteral("The event is no longer among the deleted events.");
    case TBinRestore::Result::Refused:
        return QStringLiteral("You may not restore this event.");
    case TBinRestore::Result::Taken:
        return QStringLiteral("The event is there already.");
    case TBinRestore::Result::SeriesGone:
        return QStringLiteral("Its repeating event is deleted: restore that first.");

    case TBinRestore::Result::Done:
        break;
    }
    return {};
}

} // namespace

TfrmDeletedEvents::TfrmDeletedEvents(TServices services, QWidget* parent)
    : QDialog(parent), services_(services), ui(std::make_unique<Ui::TfrmDeletedEvents>())
{
    ui->setupUi(this);
    connect(ui->btnClose, &QPushButton::clicked, this, [this] { done(1); });
    connect(ui->btnRestore, &QPushButton::clicked, this,
            [this] { TCommand::Run(services_.person(), [this] { btnRestoreClick(); }); });
}

TfrmDeletedEvents::~TfrmDeletedEvents() = default;

int TfrmDeletedEvents::Execute(TQuorlaDB& database)
{
    database_ = &database;
    restored_ = false;
    if (!TCommand::Run(services_.person(), [this] { fill(); }))
        return 1;
    exec();
    return restored_ ? 2 : 1;
}

QString TfrmDeletedEvents::userName(const QString& key)
{
    UserRecord user;
    if (TLookup::Equal(database_->Users(), user.bytes(), TXIsamFile::PrimaryIndex, key))
        return user.FullName();
    return key;
}

UserRecord TfrmDeletedEvents::acting()
{
    // A user gone since has no rights: he sees and restores only what
    // anybody may.
    UserRecord user;
    if (!TLookup::Equal(database_->Users(), user.bytes(), TXIsamFile::PrimaryIndex, database_->ActingUser()))
        user.clear();
    return user;
}

void TfrmDeletedEvents::fill()
{
    ui->lstDeleted->clear();
    for (const TBin::TItem& item : TBin::Items(*database_, acting(), database_->ActingUser())) {
        const QString what = item.following ? item.description + QStringLiteral(" (following occurrences)")
            : item.series                    ? item.description + QStringLiteral(" (repeating)")
                                             : item.description;
        auto* line = new QTreeWidgetItem(ui->lstDeleted, {what, moment(item.start, false), userName(item.deletedBy),
                                                         moment(item.deletedAt, true)});
        line->setData(0, Qt::UserRole, item.item);
    }
    ui->btnRestore->setEnabled(ui->lstDeleted->topLevelItemCount() > 0);
    if (ui->lstDeleted->topLevelItemCount() > 0)
        ui->lstDeleted->setCurrentItem(ui->lstDeleted->topLevelItem(0));
    else
        new QTreeWidgetItem(ui->lstDeleted, {NothingDeleted});
}

void TfrmDeletedEvents::btnRestoreClick()
{
    const QTreeWidgetItem* chosen = ui->lstDeleted->currentItem();
    if (!chosen || chosen->data(0, Qt::UserRole).toString().isEmpty())
        return;
    TBinRestore restore(*database_);
    const TBinRestore::Result result
        = restore.Restore(chosen->data(0, Qt::UserRole).toString(), acting(), database_->ActingUser());
    const bool done = result == TBinRestore::Result::Done;
    restored_ = restored_ || done;
    QString told = done ? QString() : refusal(result, restore.LockHolder());
    if (done && !restore.LeftOut().isEmpty())
        told = QStringLiteral("The event is restored without these bookings:\r\r")
            + restore.LeftOut().join(QLatin1Char('\r'));
    if (!told.isEmpty())
        services_.person().message(Kind::Information, Buttons::Ok, told);
    fill();
}
