#include "TfrmHistory.h"
#include "ui_TfrmHistory.h"

#include "TChangeLines.h"
#include "TChangeTrail.h"
#include "RecordKey.h"
#include "SeriesLinkRecord.h"
#include "TQuorlaDB.h"
#include "TSeriesWriter.h"
#include "TTrailVisibility.h"
#include "TfrmDeletedEvents.h"

#include <QPushButton>

#include <algorithm>

TfrmHistory::TfrmHistory(TServices services, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TfrmHistory>()), deleted_(new TfrmDeletedEvents(services, this))
{
    ui->setupUi(this);
    connect(ui->btnClose, &QPushButton::clicked, this, [this] { done(1); });
    connect(ui->btnDeleted, &QPushButton::clicked, this, [this] { deleted_->Execute(*database_); });
}

TfrmHistory::~TfrmHistory() = default;

int TfrmHistory::Execute(TQuorlaDB& database, const QString& entryKey)
{
    database_ = &database;
    ui->lstHistory->clear();
    TChangeLines lines(database);
    TTrailVisibility visibility(database, database.ActingUser());
    QList<TChangeTrail::TEntry> history = visibility.EntryHistory(entryKey);
    // An occurrence's history holds its series' changes too (made, changed,
    // deleted as a whole), as the trail lists them, in the order of writing.
    TSeriesWriter series(database);
    SeriesLinkRecord link;
    if (database.Trail().Available() && series.Available() && series.LinkOf(entryKey, link)) {
        history += visibility.SeriesHistory(link.SeriesKey());
        std::stable_sort(history.begin(), history.end(), [](const auto& a, const auto& b) {
            return a.when != b.when ? a.when < b.when : RecordKey::parse(a.key) < RecordKey::parse(b.key);
        });
    }
    for (const TChangeTrail::TEntry& entry : history)
        ui->lstHistory->addItem(lines.Line(entry));
    if (ui->lstHistory->count() == 0)
        ui->lstHistory->addItem(QStringLiteral("No changes of this event are recorded."));
    exec();
    return 1;
}
