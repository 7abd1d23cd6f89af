#include "TfrmNotify.h"
#include "ui_TfrmNotify.h"

#include "AlarmRecord.h"
#include "EQuorla.h"
#include "RecordKey.h"
#include "TQuorlaDB.h"
#include "TCommand.h"
#include "TDialogFrame.h"
#include "TEventWriter.h"
#include "TServices.h"
#include "TStamp.h"

#include <QKeyEvent>
#include <QLayout>
#include <QLineEdit>
#include <QTextEdit>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QScreen>
#include <QScopeGuard>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

using Kind = TPersonServices::MessageKind;
using Buttons = TPersonServices::MessageButtons;

constexpr int BeepPauseMs = 500;
const QString DuePicture = QStringLiteral("dddd mmmm d, hh:nn");
const QString EntryMissing
    = QStringLiteral("An alarm has triggered for an event that cannot be found. The alarm will be deleted");
const QString SnoozeLocked = QStringLiteral("Unable to snooze alarm. Another user has locked it");
const QString OffLocked = QStringLiteral("Unable to switch alarm off. Another user has locked it");

constexpr std::array<qint32, 7> Snoozes{300, 900, 1800, 3600, 7200, 14400, 86400};

} // namespace

TfrmNotify::TfrmNotify(TServices services, QWidget* parent)
    : QDialog(parent), services_(services), ui(std::make_unique<Ui::TfrmNotify>())
{
    ui->setupUi(this);
    TDialogFrame::Fixed(*this);
    fitDueField();
    // No choice yet: the first pop-up picks the first entry.
    ui->cmbSnooze->setCurrentIndex(-1);
    // An error is shown in the application's error box and leaves the pop-up
    // open.
    connect(ui->btnSnooze, &QPushButton::clicked, this, [this] { TCommand::Run(services_.person(), [this] { btnSnoozeClick(); }); });
    connect(ui->btnRemove, &QPushButton::clicked, this, [this] { TCommand::Run(services_.person(), [this] { btnRemoveClick(); }); });
}

TfrmNotify::~TfrmNotify() = default;

void TfrmNotify::fitDueField()
{
    // Every weekday with every month, at the widest day numbers and time, in
    // the field's own font: a leap year has them all.
    const QFontMetrics metrics(ui->edtDue->font());
    TStamp stamp;
    stamp.Format = DuePicture;
    int widest = 0;
    for (QDate day(2024, 1, 1); day.year() == 2024; day = day.addDays(1)) {
        stamp.SetDateTime(QDateTime(day, QTime(23, 59)));
        widest = std::max(widest, metrics.horizontalAdvance(stamp.AsString()));
    }
    QStyleOptionFrame frame;
    frame.initFrom(ui->edtDue);
    frame.lineWidth = ui->edtDue->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &frame, ui->edtDue);
    const QMargins margins = ui->edtDue->textMargins();
    // A line edit keeps two pixels on either side of its text.
    const QSize text(widest + margins.left() + margins.right() + 4, metrics.height());
    ui->edtDue->setMinimumWidth(
        ui->edtDue->style()->sizeFromContents(QStyle::CT_LineEdit, &frame, text, ui->edtDue).width());
}

void TfrmNotify::showDescription(const QString& description)
{
    // The field's width is the form's (the due field sets it), whatever the
    // text: measured once the layout has placed it. The whole description
    // wraps there, the field as high as its lines.
    layout()->activate();
    QTextEdit* field = ui->edtDescription;
    field->setPlainText(description);
    field->document()->setTextWidth(field->viewport()->width());
    const int lines = int(std::ceil(field->document()->size().height()));
    field->setFixedHeight(lines + 2 * field->frameWidth());
    layout()->activate();
}

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
        services_.person().message(Kind::Information, Buttons::Ok, EntryMissing);
        writer.deleteOrphanAlarm(AlarmKey, alarm);
        return 2;
    }
    Stamp = std::make_unique<TStamp>();
    Stamp->Format = DuePicture;
    Stamp->SetSeconds(static_cast<qint32>(RecordKey::parse(Entry.StartTime())));
    showDescription(Entry.Description());
    ui->edtDue->setText(Stamp->AsString());
    ui->edtDue->setCursorPosition(0);
    if (ui->cmbSnooze->currentIndex() < 0)
        ui->cmbSnooze->setCurrentIndex(0);
    ui->cmbSnooze->setFocus();
    const QString summary = Entry.Description().isEmpty() ? windowTitle() : Entry.Description();
    const quint32 note = services_.desktop().notify({summary, QStringLiteral("Due ") + Stamp->AsString()},
                                         [this] { bringForward(); });
    const auto withdraw = qScopeGuard([this, note] { services_.desktop().withdrawNotification(note); });
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
    services_.desktop().beep();
    services_.machine().sleep(BeepPauseMs);
    services_.desktop().beep();
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
        services_.person().message(Kind::Information, Buttons::Ok, SnoozeLocked);
        break;
    }
}

void TfrmNotify::btnRemoveClick()
{
    // An alarm switched off or replaced elsewhere is gone all the same.
    if (TEventWriter(*Database).switchOffAlarm(AlarmKey, *Alarm) == TEventWriter::Result::AlarmLocked) {
        services_.person().message(Kind::Information, Buttons::Ok, OffLocked);
        return;
    }
    done(1);
}
