#include "TfrmNotify.h"
#include "ui_TfrmNotify.h"

#include "AlarmRecord.h"
#include "EQuorla.h"
#include "RecordKey.h"
#include "TQuorlaDB.h"
#include "TEventWriter.h"
#include "TServices.h"
#include "TStamp.h"

#include <QKeyEvent>
#include <QScreen>
#include <QScopeGuard>

#include <array>

namespace {

using Kind = TServices::MessageKind;
using Buttons = TServices::MessageButtons;

constexpr int BeepPauseMs = 500;
const QString DuePicture = QStringLiteral("dddd mmmm d, hh:nn");
const QString EntryMissing
    = QStringLiteral("An alarm has triggered for an event that cannot be found. The alarm will be deleted");
const QString SnoozeLocked = QStringLiteral("Unable to snooze alarm. Another user has locked it");
const QString OffLocked = QStringLiteral("Unable to switch alarm off. Another user has locked it");

constexpr std::array<qint32, 7> Snoozes{300, 900, 1800, 3600, 7200, 14400, 86400};

} // namespace

TfrmNotify::TfrmNotify(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TfrmNotify>())
{
    ui->setupUi(this);
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);
    // No choice yet: the first pop-up picks the first entry.
    ui->cmbSnooze->setCurrentIndex(-1);
    connect(ui->btnSnooze, &QPushButton::clicked, this, [this] { guarded(&TfrmNotify::btnSnoozeClick); });
    connect(ui->btnRemove, &QPushButton::clicked, this, [this] { guarded(&TfrmNotify::btnRemoveClick); });
}

TfrmNotify::~TfrmNotify() = default;

qint32 TfrmNotify::SnoozeSeconds(int index)
{
    return index >= 0 && index < int(Snoozes.size()) ? Snoozes[std::size_t(index)] : Snoozes[0];
}

int TfrmNotify::Execute(AlarmRecord& alarm, const QString& key, TQuorlaDB& database)
{
    AlarmKey = key;
    Alarm = &alarm;
    Database = &database;
    const auto forget = qScopeGuard([this] {
        Stamp.reset();
        Alarm = nullptr;
        Database = nullptr;
    });
    TEventWriter writer(database);
    if (!writer.entryExists(alarm, Entry)) {
        TServices::current().message(Kind::Information, Buttons::Ok, EntryMissing);
        writer.deleteOrphanAlarm(AlarmKey, alarm);
        return 2;
    }
    Stamp = std::make_unique<TStamp>();
    Stamp->Format = DuePicture;
    Stamp->SetSeconds(static_cast<qint32>(RecordKey::parse(Entry.StartTime())));
    ui->edtDescription->setText(Entry.Description());
    ui->edtDue->setText(Stamp->AsString());
    if (ui->cmbSnooze->currentIndex() < 0)
        ui->cmbSnooze->setCurrentIndex(0);
    ui->cmbSnooze->setFocus();
    TServices& services = TServices::current();
    const QString summary = Entry.Description().isEmpty() ? windowTitle() : Entry.Description();
    const quint32 note = services.notify({summary, QStringLiteral("Due ") + Stamp->AsString()},
                                         [this] { bringForward(); });
    const auto withdraw = qScopeGuard([&services, note] { services.withdrawNotification(note); });
    return exec() == 1 ? 1 : 2;
}

void TfrmNotify::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Centred on the screen, wherever the main window stands.
    if (const QScreen* shown = screen())
        move(shown->availableGeometry().center() - rect().center());
    FormShow();
}

void TfrmNotify::FormShow()
{
    TServices& services = TServices::current();
    services.beep();
    services.sleep(BeepPauseMs);
    services.beep();
}

void TfrmNotify::bringForward()
{
    if (QWidget* owner = parentWidget() != nullptr ? parentWidget()->window() : nullptr) {
        if (!owner->isVisible() || owner->isMinimized())
            owner->showNormal();
        owner->raise();
        owner->activateWindow();
    }
    raise();
    activateWindow();
}

void TfrmNotify::keyPressEvent(QKeyEvent* event)
{
    // Snooze is the cancel button too: Esc snoozes rather than closing.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        ui->btnSnooze->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfrmNotify::reject()
{
    // The close box: the alarm stays as it is and comes straight back.
    done(2);
}

void TfrmNotify::guarded(void (TfrmNotify::*handler)())
{
    try {
        (this->*handler)();
    } catch (const EQuorla& e) {
        TServices::current().showApplicationError(e.message());
    } catch (const std::exception& e) {
        TServices::current().showApplicationError(QString::fromUtf8(e.what()));
    }
}

void TfrmNotify::btnSnoozeClick()
{
    // From the moment of the click, not from the old alarm time.
    Stamp->SetNow();
    Stamp->Increment(TStamp::IncSeconds, SnoozeSeconds(ui->cmbSnooze->currentIndex()));
    // The caller's buffer changes only with the stored record.
    switch (TEventWriter(*Database).snoozeAlarm(AlarmKey, *Alarm, Stamp->Key())) {
    case TEventWriter::Result::Done:
        done(1);
        break;
    case TEventWriter::Result::Gone:
        // Switched off or replaced elsewhere: nothing is left to snooze here.
        done(2);
        break;
    default:
        TServices::current().message(Kind::Information, Buttons::Ok, SnoozeLocked);
        break;
    }
}

void TfrmNotify::btnRemoveClick()
{
    // An alarm switched off or replaced elsewhere is gone all the same.
    if (TEventWriter(*Database).switchOffAlarm(AlarmKey, *Alarm) == TEventWriter::Result::AlarmLocked) {
        TServices::current().message(Kind::Information, Buttons::Ok, OffLocked);
        return;
    }
    done(1);
}
