#include "TfrmSelectGroup.h"
#include "ui_TfrmSelectGroup.h"

#include "TDisplaySettings.h"
#include "TUserCheckList.h"

TfrmSelectGroup::TfrmSelectGroup(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TfrmSelectGroup>())
{
    ui->setupUi(this);
    connect(ui->btnOk, &QPushButton::clicked, this, &TfrmSelectGroup::btnOkClick);
    connect(ui->btnCancel, &QPushButton::clicked, this, [this] { done(2); });
    // OK acts on the selected group, so it is offered only while there is one.
    connect(ui->lstGroups, &QListWidget::itemSelectionChanged, this,
            [this] { ui->btnOk->setEnabled(!ui->lstGroups->selectedItems().isEmpty()); });
    connect(ui->lstGroups, &QListWidget::itemDoubleClicked, this, &TfrmSelectGroup::btnOkClick);
}

TfrmSelectGroup::~TfrmSelectGroup() = default;

int TfrmSelectGroup::Execute(TDisplaySettings& settings, QListWidget& checkList)
{
    settings_ = &settings;
    checkList_ = &checkList;
    ui->lstGroups->clear();
    for (int slot = 0; slot < TDisplaySettings::GroupCount; ++slot) {
        if (settings.Groups[slot].Name.isEmpty())
            continue;
        auto* item = new QListWidgetItem(settings.Groups[slot].Name, ui->lstGroups);
        item->setData(Qt::UserRole, slot);
    }
    if (ui->lstGroups->count() > 0)
        ui->lstGroups->setCurrentRow(0);
    ui->btnOk->setEnabled(!ui->lstGroups->selectedItems().isEmpty());
    ui->lstGroups->setFocus();
    const int result = exec();
    settings_ = nullptr;
    checkList_ = nullptr;
    return result == 1 ? 1 : 2;
}

void TfrmSelectGroup::btnOkClick()
{
    const QList<QListWidgetItem*> selected = ui->lstGroups->selectedItems();
    if (selected.isEmpty())
        return;
    const TGroup& group = settings_->Groups[selected.first()->data(Qt::UserRole).toInt()];
    for (int row = 0; row < checkList_->count(); ++row) {
        QListWidgetItem* item = checkList_->item(row);
        item->setCheckState(group.Contains(TUserCheckList::Key(*item)) ? Qt::Checked : Qt::Unchecked);
    }
    done(1);
}
