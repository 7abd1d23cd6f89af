#include "TfrmGroups.h"
#include "ui_TfrmGroups.h"

#include "EQuorla.h"
#include "TDisplaySettings.h"
#include "TCommand.h"
#include "TServices.h"
#include "TUserCheckList.h"
#include "TfrmAEGroup.h"

#include <QMenu>

#include <exception>

TfrmGroups::TfrmGroups(TServices services, QWidget* parent)
    : QDialog(parent), services_(services), ui(std::make_unique<Ui::TfrmGroups>()), aeGroup_(new TfrmAEGroup(this)),
      popup_(new QMenu(this))
{
    ui->setupUi(this);
    addActions({ui->actNew, ui->actProperties, ui->actDelete});
    popup_->addAction(ui->actNew);
    popup_->addAction(ui->actDelete);
    popup_->addSeparator();
    popup_->addAction(ui->actProperties);
    connect(ui->actNew, &QAction::triggered, this, &TfrmGroups::actNewExecute);
    connect(ui->actProperties, &QAction::triggered, this, &TfrmGroups::actPropertiesExecute);
    connect(ui->actDelete, &QAction::triggered, this, &TfrmGroups::actDeleteExecute);
    connect(ui->btnClose, &QPushButton::clicked, this, [this] { done(1); });
    connect(ui->lstGroups, &QListWidget::itemSelectionChanged, this, &TfrmGroups::updateActions);
    connect(ui->lstGroups, &QListWidget::itemDoubleClicked, this, &TfrmGroups::actPropertiesExecute);
    connect(ui->lstGroups, &QWidget::customContextMenuRequested, this, &TfrmGroups::lstGroupsContextMenu);
}

TfrmGroups::~TfrmGroups() = default;

int TfrmGroups::Execute(TDisplaySettings& settings, TQuorlaDB& database)
{
    settings_ = &settings;
    database_ = &database;
    ui->lstGroups->clear();
    for (int slot = 0; slot < TDisplaySettings::GroupCount; ++slot) {
        if (settings.Groups[slot].Name.isEmpty())
            continue;
        auto* item = new QListWidgetItem(settings.Groups[slot].Name);
        item->setData(Qt::UserRole, slot);
        TUserCheckList::InsertSorted(*ui->lstGroups, item);
    }
    updateActions();
    ui->lstGroups->setFocus();
    const int result = exec();
    settings_ = nullptr;
    database_ = nullptr;
    return result == 1 ? 1 : 2;
}

int TfrmGroups::selectedSlot() const
{
    const QList<QListWidgetItem*> selected = ui->lstGroups->selectedItems();
    return selected.isEmpty() ? -1 : selected.first()->data(Qt::UserRole).toInt();
}

void TfrmGroups::updateActions()
{
    ui->actNew->setEnabled(ui->lstGroups->count() < TDisplaySettings::GroupCount);
    const bool selected = selectedSlot() >= 0;
    ui->actProperties->setEnabled(selected);
    ui->actDelete->setEnabled(selected);
}

void TfrmGroups::actNewExecute()
{
    if (!ui->actNew->isEnabled())
        return;
    TGroup added;
    if (aeGroup_->Execute(added, QStringLiteral("New Group"), *database_) != 1)
        return;
    TCommand::Run(services_.person(), [this, &added] {
        int slot = 0;
        while (slot < TDisplaySettings::GroupCount && !settings_->Groups[slot].Name.isEmpty())
            ++slot;
        if (slot == TDisplaySettings::GroupCount)
            throw EQuorla(QStringLiteral("Unable to locate free group slot"));
        settings_->Groups[slot].SetFromText(added.AsText());
        auto* item = new QListWidgetItem(settings_->Groups[slot].Name);
        item->setData(Qt::UserRole, slot);
        TUserCheckList::InsertSorted(*ui->lstGroups, item);
        ui->lstGroups->setCurrentItem(item);
    });
    updateActions();
}

void TfrmGroups::actPropertiesExecute()
{
    const int slot = selectedSlot();
    if (slot < 0)
        return;
    if (aeGroup_->Execute(settings_->Groups[slot], QStringLiteral("Group Properties"), *database_) != 1)
        return;
    // Taken out and put back so that the renamed group keeps the name order.
    QListWidgetItem* item = ui->lstGroups->takeItem(ui->lstGroups->row(ui->lstGroups->selectedItems().first()));
    item->setText(settings_->Groups[slot].Name);
    TUserCheckList::InsertSorted(*ui->lstGroups, item);
    ui->lstGroups->setCurrentItem(item);
}

void TfrmGroups::actDeleteExecute()
{
    const int slot = selectedSlot();
    if (slot < 0)
        return;
    TGroup& group = settings_->Groups[slot];
    if (services_.person().message(TPersonServices::MessageKind::Confirmation, TPersonServices::MessageButtons::YesNo,
                                     QStringLiteral("Delete group \"") + group.Name + QStringLiteral("\". Are you sure?"))
        != TPersonServices::MessageAnswer::Yes)
        return;
    group.Name.clear();
    group.Clear();
    delete ui->lstGroups->selectedItems().first();
    updateActions();
}

void TfrmGroups::lstGroupsContextMenu(const QPoint& pos)
{
    if (QListWidgetItem* item = ui->lstGroups->itemAt(pos))
        ui->lstGroups->setCurrentItem(item);
    popup_->popup(ui->lstGroups->viewport()->mapToGlobal(pos));
}
