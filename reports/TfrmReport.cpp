#include "TfrmReport.h"

#include "CategoryRecord.h"
#include "EQuorla.h"
#include "IsamCode.h"
#include "RecordKey.h"
#include "TBusyCursor.h"
#include "TCalendarExport.h"
#include "TCommand.h"
#include "TDetailsStore.h"
#include "TLookup.h"
#include "TQuorlaDB.h"
#include "TResourceStore.h"
#include "TServices.h"
#include "TXIsamFile.h"
#include "TfrmReportViewer.h"
#include "ui_TfrmReport.h"

#include <QCalendarWidget>
#include <QEventLoop>
#include <QListWidgetItem>
#include <QPair>
#include <QScopeGuard>
#include <QSize>

#include <algorithm>
#include <exception>

namespace {

using Item = QPair<QString, qint64>;

// Reads every record of `dataset` in primary-key order and answers each one's
// text (taken by `text` from the record) with its key as a number, sorted by
// text without regard to case, as the lists show them.
template <typename Record>
QList<Item> readAll(TXIsamFile& dataset, QString (Record::*text)() const)
{
    QList<Item> items;
    Record record;
    TLookup::Each(dataset, record.bytes(),
                  [&](const QString& key) { items.append({(record.*text)(), RecordKey::parse(key)}); });
    std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
        return QString::compare(a.first, b.first, Qt::CaseInsensitive) < 0;
    });
    return items;
}

} // namespace

TfrmReport::TfrmReport(TServices services, QWidget* parent)
    : QDialog(parent), services_(services), ui(std::make_unique<Ui::TfrmReport>())
{
    ui->setupUi(this);
    ui->cmbStartDate->calendarWidget()->setFirstDayOfWeek(Qt::Monday);
    ui->cmbEndDate->calendarWidget()->setFirstDayOfWeek(Qt::Monday);
    ui->btnGroup->setEnabled(false);
    connect(ui->chkCategory, &QCheckBox::clicked, this, &TfrmReport::chkCategoryClick);
    connect(ui->chkResource, &QCheckBox::clicked, this, &TfrmReport::chkResourceClick);
    connect(ui->btnGroup, &QToolButton::clicked, this, &TfrmReport::btnGroupClick);
    connect(ui->btnGo, &QPushButton::clicked, this, &TfrmReport::btnGoClick);
    connect(ui->btnClose, &QPushButton::clicked, this, &QDialog::reject);
    SetPurpose(Purpose::Report);
}

void TfrmReport::SetPurpose(Purpose purpose)
{
    purpose_ = purpose;
    const bool exporting = purpose == Purpose::Export;
    setWindowTitle(exporting ? QStringLiteral("Export Calendar") : QStringLiteral("Report"));
    ui->btnGo->setText(exporting ? QStringLiteral("&Export...") : QStringLiteral("&Go"));
    ui->lblDuration->setVisible(exporting);
    ui->spnDuration->setVisible(exporting);
    // How long events last takes a row of its own above the buttons, its box
    // as wide as its longest value ("1440 min") needs; the report has no such
    // row.
    QSpinBox* duration = ui->spnDuration;
    duration->resize(std::max(duration->width(), duration->sizeHint().width()), duration->height());
    const int buttonsTop = exporting ? duration->geometry().bottom() + 8 : duration->y() - 1;
    ui->btnGo->move(ui->btnGo->x(), buttonsTop);
    ui->btnClose->move(ui->btnClose->x(), buttonsTop);
    setFixedSize(width(), buttonsTop + ui->btnGo->height() + 6);
}

TfrmReport::~TfrmReport() = default;

int TfrmReport::Execute(TDisplaySettings& settings, TQuorlaDB& database, const UserRecord& currentUser,
                        const QString& currentUserKey, TfrmReportViewer& viewer)
{
    Settings = &settings;
    Database = &database;
    CurrentUser = currentUser;
    CurrentUserKey = currentUserKey;
    Viewer = &viewer;

    const QDate today = services_.machine().now().date();
    ui->cmbStartDate->setDate(today);
    ui->cmbEndDate->setDate(today);
    ui->chkCategory->setChecked(false);
    ui->cmbCategory->setEnabled(false);
    ui->btnGroup->setEnabled(bool(OnSelectGroup));
    FillUserList();
    FillCategoryList();
    FillResourceList();

    // A run hides the dialog while the viewer shows; exec() would end on that
    // hiding, so the dialog waits for its own finish instead.
    setResult(0);
    setWindowModality(Qt::ApplicationModal);
    QEventLoop loop;
    connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
    const QSize screen = services_.desktop().screenSize();
    move((screen.width() - width()) / 2, (screen.height() - height()) / 2);
    show();
    loop.exec();
    return result() == QDialog::Accepted ? 1 : 2;
}

void TfrmReport::FillUserList()
{
    ui->lstUsers->clear();
    for (const Item& user : readAll<UserRecord>(Database->Users(), &UserRecord::FullName)) {
        auto* item = new QListWidgetItem(user.first, ui->lstUsers);
        item->setData(Qt::UserRole, user.second);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
        item->setSizeHint(QSize(item->sizeHint().width(), 16));
    }
}

void TfrmReport::FillCategoryList()
{
    QList<Item> items = readAll<CategoryRecord>(Database->Categories(), &CategoryRecord::Description);
    items.append({QStringLiteral("<None>"), 0});
    std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
        return QString::compare(a.first, b.first, Qt::CaseInsensitive) < 0;
    });
    ui->cmbCategory->clear();
    for (const Item& category : std::as_const(items))
        ui->cmbCategory->addItem(category.first, category.second);
    ui->cmbCategory->setCurrentIndex(0);
}

void TfrmReport::FillResourceList()
{
    ui->cmbResource->clear();
    TResourceStore store(*Database);
    if (store.Available())
        for (const TResourceStore::TResource& resource : store.All())
            ui->cmbResource->addItem(resource.name, resource.key);
    ui->cmbResource->setCurrentIndex(0);
    ui->chkResource->setChecked(false);
    ui->chkResource->setEnabled(ui->cmbResource->count() > 0);
    ui->cmbResource->setEnabled(false);
}

TReportBuilder TfrmReport::Builder() const
{
    TReportBuilder builder;
    builder.StartDate = ui->cmbStartDate->date();
    builder.EndDate = ui->cmbEndDate->date();
    builder.RestrictCategory = ui->chkCategory->isChecked();
    builder.CategoryKey = RecordKey::format(ui->cmbCategory->currentData().toLongLong());
    builder.CategoryText = ui->cmbCategory->currentText();
    builder.RestrictResource = ui->chkResource->isChecked();
    builder.ResourceKey = ui->cmbResource->currentData().toString();
    builder.ResourceName = ui->cmbResource->currentText();
    for (int row = 0; row < ui->lstUsers->count(); ++row) {
        const QListWidgetItem* item = ui->lstUsers->item(row);
        if (item->checkState() == Qt::Checked)
            builder.Users.append({RecordKey::format(item->data(Qt::UserRole).toLongLong()), item->text()});
    }
    builder.CurrentUser = CurrentUser;
    builder.CurrentUserKey = CurrentUserKey;
    return builder;
}

void TfrmReport::chkCategoryClick()
{
    ui->cmbCategory->setEnabled(ui->chkCategory->isChecked());
}

void TfrmReport::chkResourceClick()
{
    ui->cmbResource->setEnabled(ui->chkResource->isChecked());
}

void TfrmReport::btnGroupClick()
{
    if (OnSelectGroup && Settings != nullptr)
        OnSelectGroup(*Settings, *ui->lstUsers);
}

void TfrmReport::exportCalendar()
{
    const QString path = services_.person().pickSaveFile(QStringLiteral("Export Calendar"),
                                                           QStringLiteral("quorla.ics"),
                                                           QStringLiteral("iCalendar files (*.ics)"));
    if (path.isEmpty())
        return;
    TCalendarExport calendar;
    static_cast<TEntrySelection&>(calendar) = Builder();
    calendar.ReadBookings(*Database);
    calendar.DurationMinutes = ui->spnDuration->value();
    calendar.Changes = TCalendarExport::FromTrail(Database->Trail());
    int events = 0;
    {
        TBusyCursor busy(services_.person());
        TCalendarExport::WriteFile(path, calendar.Build(*Database, &events));
    }
    services_.person().message(TPersonServices::MessageKind::Information, TPersonServices::MessageButtons::Ok,
                                 events == 1 ? QStringLiteral("1 event was exported to %1").arg(path)
                                             : QStringLiteral("%1 events were exported to %2").arg(events).arg(path));
    done(QDialog::Accepted);
}

void TfrmReport::btnGoClick()
{
    if (purpose_ == Purpose::Export) {
        if (Database != nullptr)
            TCommand::Run(services_.person(), [this] { exportCalendar(); });
        return;
    }
    if (Database == nullptr || Viewer == nullptr)
        return;
    hide();
    TCommand::Run(services_.person(), [this] {
        // Back on show on every way out, before any error is shown.
        const auto again = qScopeGuard([this] {
            show();
            raise();
            activateWindow();
        });
        QStringList lines;
        {
            TBusyCursor busy(services_.person());
            TDetailsStore details(*Database);
            TReportBuilder builder = Builder();
            builder.ReadBookings(*Database);
            lines = builder.Build(Database->DayEntries(), Database->Users(), &details);
        }
        Viewer->Execute(lines);
    });
}
