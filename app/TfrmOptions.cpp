#include "TfrmOptions.h"
#include "ui_TfrmOptions.h"

#include "TColorRef.h"
#include "TChangeTrail.h"
#include "TCommand.h"
#include "TDialogFrame.h"
#include "TDayView.h"
#include "TQuorlaCfg.h"
#include "TQuorlaDB.h"
#include "TWeekView.h"
#include "TWorkingHours.h"

#include <QCheckBox>
#include <QColor>
#include <QComboBox>
#include <QIcon>
#include <QPixmap>
#include <QPushButton>
#include <QTimeZone>

#include <algorithm>
#include <cmath>

namespace {

constexpr int SwatchSize = 14;
// Text below this contrast with its background is hard to read.
constexpr double MinimumContrast = 1.5;

QIcon swatch(const QColor& color)
{
    QPixmap pixmap(SwatchSize, SwatchSize);
    pixmap.fill(color);
    return QIcon(pixmap);
}

// The contrast of two colours as the accessibility guidelines count it, from
// 1 (the same) to 21 (black on white).
double contrast(const QColor& a, const QColor& b)
{
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// Every named colour of the platform's colour set that text can be read in on
// the day lists' background, each with its swatch; the colour value sits
// beside each entry. "transparent", and colours as light as the background
// ("white", "snow", ...), would make the text vanish.
void fillColours(QComboBox& list)
{
    list.clear();
    const QColor background = TColorRef::toQColor(TColorRef::clWhite);
    for (const QString& name : QColor::colorNames()) {
        const QColor color = QColor::fromString(name);
        if (color.alpha() < 255 || contrast(color, background) < MinimumContrast)
            continue;
        list.addItem(swatch(color), name, TColorRef::fromQColor(color));
    }
}

// Selects the first entry holding `color`. A colour without a name (one set
// elsewhere) is added at the end under its hexadecimal form, so that OK keeps
// it as it was.
void selectColour(QComboBox& list, TColor color)
{
    int row = list.findData(color);
    if (row < 0) {
        const QColor shown = TColorRef::toQColor(color);
        list.addItem(swatch(shown), shown.name(), color);
        row = list.count() - 1;
    }
    list.setCurrentIndex(row);
}

TColor selectedColour(const QComboBox& list)
{
    return TColor(list.currentData().toInt());
}

// The font in `color` with exactly the italic style when `italic`, and no
// style otherwise (a bold one is dropped).
void restyle(TFont& font, TColor color, bool italic)
{
    font.setColor(color);
    font.setItalicOnly(italic);
}

} // namespace

TfrmOptions::TfrmOptions(TServices services, QWidget* parent)
    : QDialog(parent), services_(services), ui(std::make_unique<Ui::TfrmOptions>())
{
    ui->setupUi(this);
    TDialogFrame::Fixed(*this);
    for (QComboBox* list : {ui->cmbTimeColor, ui->cmbDescriptionColor, ui->cmbAssigneeColor, ui->cmbCategoryColor,
                            ui->cmbPrivateColor})
        fillColours(*list);
    connect(ui->btnOk, &QPushButton::clicked, this, [this] { TCommand::Run(services_.person(), [this] { btnOkClick(); }); });
    connect(ui->btnCancel, &QPushButton::clicked, this, [this] { done(2); });
}

TfrmOptions::~TfrmOptions() = default;

const QString TfrmOptions::WorkingHoursRefused
    = QStringLiteral("The working hours must end after they start, on at least one day of the week");

int TfrmOptions::Execute(TWeekView& weekView, TDayView& dayView, TQuorlaCfg& settings)
{
    WeekView = &weekView;
    DayView = &dayView;
    Settings = &settings;
    LoadFromView();
    ui->tabChanges->setEnabled(Trail && Trail->Available());
    // Everyone sees what the office keeps; only an administrator changes it.
    ui->edtDaysKept->setEnabled(MayChangeTrail);
    ui->edtDaysKept->setValue(Trail ? Trail->DaysKept() : TChangeTrail::DefaultDaysKept);
    const QByteArray zone = Office ? Office->OfficeZone() : QByteArray();
    if (ui->cmbOfficeZone->count() == 0) {
        for (const QByteArray& id : QTimeZone::availableTimeZoneIds())
            ui->cmbOfficeZone->addItem(QString::fromUtf8(id));
    }
    ui->cmbOfficeZone->setCurrentIndex(ui->cmbOfficeZone->findText(QString::fromUtf8(zone)));
    ui->cmbOfficeZone->setEnabled(MayChangeOffice);
    LoadWorkingHours();
    ui->tabOffice->setEnabled(Office != nullptr);
    ui->tabOptions->setCurrentIndex(0);
    const int result = exec();
    WeekView = nullptr;
    DayView = nullptr;
    Settings = nullptr;
    return result == 1 ? 1 : 2;
}

void TfrmOptions::LoadFromView()
{
    const TDisplayStyle& style = WeekView->Style();
    ui->chkShowCategories->setChecked(style.ShowCategories);
    ui->chkShowAlarmGlyphs->setChecked(style.ShowAlarmGlyphs);
    ui->chkShowPrivateGlyphs->setChecked(style.ShowPrivateGlyphs);
    ui->chkExpandLines->setChecked(style.DisplayMode == TDisplayMode::dmDouble);
    selectColour(*ui->cmbTimeColor, style.TimeFont.Color());
    selectColour(*ui->cmbDescriptionColor, style.DescriptionFont.Color());
    selectColour(*ui->cmbAssigneeColor, style.AssigneeFont.Color());
    selectColour(*ui->cmbCategoryColor, style.CategoryFont.Color());
    selectColour(*ui->cmbPrivateColor, style.PrivateFont.Color());
    ui->chkAssigneeItalic->setChecked(style.AssigneeFont.Italic());
    ui->chkCategoryItalic->setChecked(style.CategoryFont.Italic());
    ui->chkPrivateItalic->setChecked(style.PrivateFont.Italic());
}

QList<QCheckBox*> TfrmOptions::workDayBoxes() const
{
    return {ui->chkWorkMon, ui->chkWorkTue, ui->chkWorkWed, ui->chkWorkThu,
            ui->chkWorkFri, ui->chkWorkSat, ui->chkWorkSun};
}

void TfrmOptions::LoadWorkingHours()
{
    const TWorkingHours hours = Office ? TWorkingHours::Of(*Office) : TWorkingHours();
    ui->edtWorkStart->setTime(hours.start);
    ui->edtWorkEnd->setTime(hours.end);
    const QList<QCheckBox*> days = workDayBoxes();
    for (int day = 1; day <= 7; ++day)
        days[day - 1]->setChecked(hours.worksOn(day));
    for (QWidget* control : std::initializer_list<QWidget*>{ui->edtWorkStart, ui->edtWorkEnd})
        control->setEnabled(MayChangeOffice);
    for (QCheckBox* day : days)
        day->setEnabled(MayChangeOffice);
}

std::optional<TWorkingHours> TfrmOptions::ChosenWorkingHours() const
{
    QString days;
    const QList<QCheckBox*> boxes = workDayBoxes();
    for (int day = 1; day <= 7; ++day)
        if (boxes[day - 1]->isChecked())
            days += QString::number(day);
    return TWorkingHours::fromText(ui->edtWorkStart->time().toString(u"hh:mm") + QLatin1Char('-')
                                   + ui->edtWorkEnd->time().toString(u"hh:mm") + QLatin1Char(' ') + days);
}

void TfrmOptions::btnOkClick()
{
    const std::optional<TWorkingHours> hours = ChosenWorkingHours();
    if (Office && MayChangeOffice && !hours) {
        services_.person().message(TPersonServices::MessageKind::Warning, TPersonServices::MessageButtons::Ok,
                                   WorkingHoursRefused);
        return;
    }
    // First, as they may fail: nothing else is changed then.
    if (Office && MayChangeOffice && *hours != TWorkingHours::Of(*Office))
        TWorkingHours::Store(*Office, *hours);
    const QByteArray zone = ui->cmbOfficeZone->currentText().toUtf8();
    if (Office && MayChangeOffice && !zone.isEmpty() && zone != Office->OfficeZone())
        Office->SetOfficeZone(zone);
    TDisplayStyle style = WeekView->Style();
    style.ShowCategories = ui->chkShowCategories->isChecked();
    style.ShowAlarmGlyphs = ui->chkShowAlarmGlyphs->isChecked();
    style.ShowPrivateGlyphs = ui->chkShowPrivateGlyphs->isChecked();
    style.DisplayMode = ui->chkExpandLines->isChecked() ? TDisplayMode::dmDouble : TDisplayMode::dmSingle;
    style.TimeFont.setColor(selectedColour(*ui->cmbTimeColor));
    style.DescriptionFont.setColor(selectedColour(*ui->cmbDescriptionColor));
    restyle(style.AssigneeFont, selectedColour(*ui->cmbAssigneeColor), ui->chkAssigneeItalic->isChecked());
    restyle(style.CategoryFont, selectedColour(*ui->cmbCategoryColor), ui->chkCategoryItalic->isChecked());
    restyle(style.PrivateFont, selectedColour(*ui->cmbPrivateColor), ui->chkPrivateItalic->isChecked());
    Settings->Capture(style);
    WeekView->setStyle(style);
    DayView->setStyle(style);
    if (Trail && MayChangeTrail && ui->tabChanges->isEnabled() && ui->edtDaysKept->value() != Trail->DaysKept())
        Trail->SetDaysKept(ui->edtDaysKept->value());
    done(1);
}
