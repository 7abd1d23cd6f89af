#include "TDayView.h"

#include "RecordKey.h"
#include "TDayViewHeader.h"
#include "TDayViewList.h"

#include <QResizeEvent>

TDayView::TDayView(QWidget* parent)
    : TPanel(parent),
      list_(new TDayViewList(this)),
      header_(new TDayViewHeader(this))
{
    Stamp.Format = QStringLiteral("dddd, dd mmm, yy");
    Stamp.OnChange = [this](TStamp*) { RefreshEntries(); };

    list_->setDayEntries(&dayEntries_);
    list_->OnWantUserName = [this](QObject*, const QString& pk, QString& name) {
        if (OnWantUserName)
            OnWantUserName(this, pk, name);
    };
    list_->OnReceivedFocus = [this](QObject*) {
        if (OnReceivedFocus)
            OnReceivedFocus(this);
    };
    list_->OnWantAlarmedFlag = [this](QObject*, const QString& pk, bool& alarmed) {
        if (OnWantAlarmedFlag)
            OnWantAlarmedFlag(this, pk, alarmed);
    };
    list_->OnWantRepeatingFlag = [this](QObject*, const QString& pk, TRepeatMark& mark) {
        if (OnWantRepeatingFlag)
            OnWantRepeatingFlag(this, pk, mark);
    };
    list_->OnWantCategoryDescription = [this](QObject*, const QString& pk, QString& description) {
        if (OnWantCategoryDescription)
            OnWantCategoryDescription(this, pk, description);
    };
    list_->OnItemDblClick = [this](QObject*) {
        if (OnListDblClick)
            OnListDblClick(this);
    };
    list_->OnError = [this](QObject*, const QString& message) {
        if (OnError)
            OnError(this, message);
    };

    header_->setHeaderText(Stamp.AsString());
    clientChanged();
}

TDayView::~TDayView()
{
    // The list reads dayEntries_ while painting; it goes first.
    list_->setDayEntries(nullptr);
    Stamp.OnChange = nullptr;
}

void TDayView::RefreshEntries()
{
    header_->setHeaderText(Stamp.AsString());
    const bool today = Stamp.IsToday();
    if (font().bold() != today) {
        QFont bold = font();
        bold.setBold(today);
        setFont(bold);
    }
    if (OnWantDayEntries) {
        dayEntries_.Clear();
        // Whatever the handler does, the list ends up with one item per event
        // that DayEntries holds, so no item ever stands for a missing event.
        struct Rebuild
        {
            TDayViewList* list;
            ~Rebuild() { list->RebuildItems(); }
        } rebuild{list_};
        dayEntries_.Day = QDate(Stamp.Year(), Stamp.Month(), Stamp.Day());
        OnWantDayEntries(this, Stamp.DayKey(), dayEntries_);
        if (OnWantReachingEntries) {
            TDayEntries earlier;
            OnWantReachingEntries(this, Stamp.DayKey(), Stamp.DayKey(), earlier);
            TDayEntries::Spread({&dayEntries_}, &earlier);
        }
        if (dayEntries_.NotLoaded())
            header_->setHeaderText(Stamp.AsString() + TDayEntries::NotLoadedMark);
    }
    update();
}

void TDayView::Spread(const QList<TDayView*>& days, const TDayEntries& earlier)
{
    QList<TDayEntries*> entries;
    for (TDayView* day : days)
        entries << &day->dayEntries_;
    TDayEntries::Spread(entries, &earlier);
    for (TDayView* day : days)
        day->list_->RebuildItems();
}

int TDayView::selectedEntry() const
{
    const int index = list_->ItemIndex();
    return index >= 0 && index < dayEntries_.Count() ? index : -1;
}

QString TDayView::SelectedPk() const
{
    const int index = selectedEntry();
    return index < 0 ? QString(RecordKey::None) : dayEntries_.PkAt(index);
}

QString TDayView::SelectedOwnerKey() const
{
    const int index = selectedEntry();
    return index < 0 ? QString(RecordKey::None) : dayEntries_.Entry(index).OwnerKey();
}

QString TDayView::SelectedDescription() const
{
    const int index = selectedEntry();
    return index < 0 ? QString() : dayEntries_.Entry(index).Description();
}

void TDayView::setDateFormat(const QString& format)
{
    Stamp.Format = format;
    header_->setHeaderText(Stamp.AsString());
}

const TDisplayStyle& TDayView::Style() const { return list_->Style(); }
void TDayView::setStyle(const TDisplayStyle& style) { list_->setStyle(style); }

void TDayView::resizeEvent(QResizeEvent* event)
{
    TPanel::resizeEvent(event);
    clientChanged();
}

void TDayView::clientChanged()
{
    // Header across the top of the space the bevels leave, the list below it.
    if (list_ == nullptr || header_ == nullptr)
        return;
    const QRect inner = InnerRect();
    const int headerHeight = header_->height();
    header_->setGeometry(inner.left(), inner.top(), inner.width(), headerHeight);
    list_->setGeometry(inner.left(), inner.top() + headerHeight, inner.width(),
                       std::max(0, inner.height() - headerHeight));
}
