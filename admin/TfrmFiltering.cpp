#include "TfrmFiltering.h"
#include "ui_TfrmFiltering.h"

#include "TFilterRules.h"
#include "TQuorlaDB.h"
#include "TResourceStore.h"
#include "TUserCheckList.h"
#include "TfrmSelectGroup.h"

#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QToolButton>

#include <algorithm>

TfrmFiltering::TfrmFiltering(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TfrmFiltering>()), selectGroup_(new TfrmSelectGroup(this))
{
    ui->setupUi(this);
    ui->rdoAll->setChecked(true);
    connect(ui->lstUsers, &QListWidget::itemChanged, this, &TfrmFiltering::lstUsersClickCheck);
    connect(ui->cmbResource, &QComboBox::activated, this, [this] { ui->rdoResource->setChecked(true); });
    connect(ui->btnGroup, &QToolButton::clicked, this, &TfrmFiltering::btnGroupClick);
    connect(ui->btnOk, &QPushButton::clicked, this, &TfrmFiltering::btnOkClick);
    connect(ui->btnCancel, &QPushButton::clicked, this, [this] { done(2); });
}

TfrmFiltering::~TfrmFiltering() = default;

int TfrmFiltering::Execute(TDisplaySettings& settings, TQuorlaDB& database, TFilterRules& rules)
{
    Settings = &settings;
    Rules = &rules;
    {
        // Filling and ticking from the program is no choice of the user's.
        const QSignalBlocker quiet(ui->lstUsers);
        TUserCheckList::Fill(*ui->lstUsers, database.Users());
        fillResources(database, rules);
        switch (rules.Mode) {
        case TFilterRules::ShowAll:
            ui->rdoAll->setChecked(true);
            break;
        case TFilterRules::ShowMine:
            ui->rdoMe->setChecked(true);
            break;
        case TFilterRules::ShowResource:
            ui->rdoResource->setChecked(true);
            break;
        default:
            ui->rdoUsers->setChecked(true);
            for (int row = 0; row < ui->lstUsers->count(); ++row) {
                QListWidgetItem* item = ui->lstUsers->item(row);
                if (rules.Contains(TUserCheckList::Key(*item)))
                    item->setCheckState(Qt::Checked);
            }
            break;
        }
    }
    const int result = exec();
    Settings = nullptr;
    Rules = nullptr;
    return result == 1 ? 1 : 2;
}

void TfrmFiltering::fillResources(TQuorlaDB& database, const TFilterRules& rules)
{
    ui->cmbResource->clear();
    TResourceStore store(database);
    if (store.Available())
        for (const TResourceStore::TResource& resource : store.All())
            ui->cmbResource->addItem(resource.name, resource.key);
    ui->cmbResource->setCurrentIndex(std::max(0, ui->cmbResource->findData(rules.Resource)));
    ui->rdoResource->setEnabled(ui->cmbResource->count() > 0);
}

void TfrmFiltering::lstUsersClickCheck(QListWidgetItem* /*item*/)
{
    ui->rdoUsers->setChecked(true);
}

void TfrmFiltering::btnGroupClick()
{
    if (selectGroup_->Execute(*Settings, *ui->lstUsers) == 1)
        ui->rdoUsers->setChecked(true);
}

void TfrmFiltering::btnOkClick()
{
    if (ui->rdoAll->isChecked()) {
        Rules->Mode = TFilterRules::ShowAll;
    } else if (ui->rdoMe->isChecked()) {
        Rules->Mode = TFilterRules::ShowMine;
    } else if (ui->rdoResource->isChecked()) {
        Rules->Mode = TFilterRules::ShowResource;
        Rules->Resource = ui->cmbResource->currentData().toString();
    } else {
        Rules->Mode = TFilterRules::ShowChosen;
        Rules->Clear();
        for (int row = 0; row < ui->lstUsers->count(); ++row) {
            const QListWidgetItem& item = *ui->lstUsers->item(row);
            if (TUserCheckList::Ticked(item))
                Rules->Add(TUserCheckList::Key(item));
        }
    }
    done(1);
}
