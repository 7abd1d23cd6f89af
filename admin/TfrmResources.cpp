#include "TfrmResources.h"

#include "ui_TfrmResources.h"

#include "RecordKey.h"
#include "ResourceRecord.h"
#include "TCommand.h"
#include "TQuorlaDB.h"
#include "TResourceWriter.h"
#include "TTextLimit.h"

#include <QListWidgetItem>

namespace {

const QString Duplicate = QStringLiteral("A resource with this name already exists");
const QString ConfirmDelete
    = QStringLiteral("Every booking of this resource will be taken back; the events stay. Are you sure?");
const QString ResourceLocked
    = QStringLiteral("Unable to update this resource. Another user has locked it (a booking of it is being made)");
const QString ResourceGone = QStringLiteral("This resource has been deleted by another user");
// The rows of cmbKind.
constexpr int KindRoomRow = 0;
constexpr int KindOtherRow = 1;

} // namespace

TfrmResources::TfrmResources(TServices services, QWidget* parent)
    : QDialog(parent), services_(services), ui_(std::make_unique<Ui::TfrmResources>())
{
    ui_->setupUi(this);
    TTextLimit::Apply(ui_->edtName, services_.desktop(), ResourceRecord::NameWidth - 1);
    TTextLimit::Apply(ui_->edtDescription, services_.desktop(), ResourceRecord::DescriptionWidth - 1);
    connect(ui_->lstResources, &QListWidget::currentRowChanged, this, &TfrmResources::lstResourcesClick);
    connect(ui_->lstResources, &QListWidget::itemSelectionChanged, this, &TfrmResources::checkSelected);
    connect(ui_->edtName, &QLineEdit::textChanged, this,
            [this] { ui_->actAdd->setEnabled(!ui_->edtName->text().isEmpty()); });
    const auto run = [this](void (TfrmResources::*step)()) {
        return [this, step] { TCommand::Run(services_.person(), [this, step] { (this->*step)(); }); };
    };
    connect(ui_->actAdd, &QPushButton::clicked, this, run(&TfrmResources::addResource));
    connect(ui_->actUpdate, &QPushButton::clicked, this, run(&TfrmResources::changeResource));
    connect(ui_->actDelete, &QPushButton::clicked, this, run(&TfrmResources::deleteResource));
    connect(ui_->actClose, &QPushButton::clicked, this, [this] { done(1); });
    ui_->actAdd->setEnabled(false);
    checkSelected();
}

TfrmResources::~TfrmResources() = default;

int TfrmResources::Execute(TQuorlaDB& database)
{
    database_ = &database;
    fill(QString());
    ui_->lstResources->setFocus();
    return exec();
}

void TfrmResources::fill(const QString& selectKey)
{
    QListWidget* list = ui_->lstResources;
    const QSignalBlocker quiet(list);
    list->clear();
    int selected = list->count() > 0 ? 0 : -1;
    for (const TResourceStore::TResource& resource : TResourceStore(*database_).All()) {
        auto* item = new QListWidgetItem(resource.name);
        item->setData(Qt::UserRole, RecordKey::parse(resource.key));
        item->setToolTip(resource.description);
        list->addItem(item);
        if (resource.key == selectKey || selected < 0)
            selected = list->count() - 1;
    }
    list->setCurrentRow(selected);
    lstResourcesClick();
    checkSelected();
}

QString TfrmResources::selectedKey() const
{
    const QList<QListWidgetItem*> selected = ui_->lstResources->selectedItems();
    return selected.isEmpty() ? QString() : RecordKey::format(selected.first()->data(Qt::UserRole).toLongLong());
}

void TfrmResources::lstResourcesClick()
{
    const QString key = selectedKey();
    const std::optional<TResourceStore::TResource> resource
        = key.isEmpty() ? std::nullopt : TResourceStore(*database_).Find(key);
    if (!resource)
        return;
    ui_->edtName->setText(resource->name);
    ui_->edtDescription->setText(resource->description);
    ui_->cmbKind->setCurrentIndex(resource->IsRoom() ? KindRoomRow : KindOtherRow);
    ui_->chkBookable->setChecked(resource->bookable);
}

TResourceStore::TResource TfrmResources::shown(const QString& key) const
{
    const bool room = ui_->cmbKind->currentIndex() == KindRoomRow;
    return {key, ui_->edtName->text(), ui_->edtDescription->text(), ui_->chkBookable->isChecked(),
            room ? TResourceStore::Kind::Room : TResourceStore::Kind::Other};
}

void TfrmResources::checkSelected()
{
    const bool selected = !ui_->lstResources->selectedItems().isEmpty();
    ui_->actDelete->setEnabled(selected);
    ui_->actUpdate->setEnabled(selected);
}

bool TfrmResources::refused(int result)
{
    using Result = TResourceWriter::Result;
    const QString text = result == int(Result::NameTaken) ? Duplicate
        : result == int(Result::Locked)                   ? ResourceLocked
        : result == int(Result::Gone)                     ? ResourceGone
                                                          : QString();
    if (!text.isEmpty())
        services_.person().message(TPersonServices::MessageKind::Information, TPersonServices::MessageButtons::Ok, text);
    return !text.isEmpty();
}

void TfrmResources::addResource()
{
    TResourceStore::TResource resource = shown(QString());
    if (!refused(int(TResourceWriter(*database_).Add(resource))))
        fill(resource.key);
}

void TfrmResources::changeResource()
{
    const TResourceStore::TResource resource = shown(selectedKey());
    if (resource.key.isEmpty() || refused(int(TResourceWriter(*database_).Change(resource))))
        return;
    fill(resource.key);
}

void TfrmResources::deleteResource()
{
    const QString key = selectedKey();
    if (key.isEmpty()
        || services_.person().message(TPersonServices::MessageKind::Confirmation, TPersonServices::MessageButtons::YesNo,
                                      ConfirmDelete)
            != TPersonServices::MessageAnswer::Yes)
        return;
    refused(int(TResourceWriter(*database_).Delete(key)));
    fill(QString());
}
