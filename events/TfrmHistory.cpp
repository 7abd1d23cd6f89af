#include "TfrmHistory.h"
#include "ui_TfrmHistory.h"

#include "TChangeLines.h"
#include "TChangeTrail.h"
#include "TQuorlaDB.h"
#include "TTrailVisibility.h"

#include <QPushButton>

TfrmHistory::TfrmHistory(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TfrmHistory>())
{
    ui->setupUi(this);
    connect(ui->btnClose, &QPushButton::clicked, this, [this] { done(1); });
}

TfrmHistory::~TfrmHistory() = default;

int TfrmHistory::Execute(TQuorlaDB& database, const QString& entryKey)
{
    ui->lstHistory->clear();
    TChangeLines lines(database);
    for (const TChangeTrail::TEntry& entry : TTrailVisibility(database, database.ActingUser()).EntryHistory(entryKey))
        ui->lstHistory->addItem(lines.Line(entry));
    if (ui->lstHistory->count() == 0)
        ui->lstHistory->addItem(QStringLiteral("No changes of this event are recorded."));
    exec();
    return 1;
}
