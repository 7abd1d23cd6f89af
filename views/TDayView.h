#pragma once

#include "TDayEntries.h"
#include "TDisplayStyle.h"
#include "TPanel.h"
#include "TStamp.h"
#include "TViewEvents.h"

#include <QString>

class TDayViewHeader;
class TDayViewList;

// One calendar day: a header strip with the date over the list of the day's
// events. The view never reads the data store. Whenever its day changes (every
// successful change of Stamp, even to the same value) or RefreshEntries is
// called, it empties its TDayEntries and raises OnWantDayEntries with the day's
// key; what the handler adds is shown as it stands. The list's requests for
// names, category texts and alarm state go out through the view's own events
// with the view as Sender; an event left unassigned leaves the answer alone.
//
// Creating the view raises nothing: the list stays empty until the first
// change of Stamp or the first RefreshEntries.
class TDayView : public TPanel
{
    Q_OBJECT

public:
    explicit TDayView(QWidget* parent = nullptr);
    ~TDayView() override;

    // The day shown; Format is the header's date picture. Starts at the moment
    // of creation with the picture "dddd, dd mmm, yy".
    TStamp Stamp;

    TDayViewList* List() const { return list_; }
    TDayViewHeader* Header() const { return header_; }
    // The events on show, as the last OnWantDayEntries left them.
    const TDayEntries& DayEntries() const { return dayEntries_; }

    TWantUserNameEvent OnWantUserName;
    TReceivedFocusEvent OnReceivedFocus;
    TWantDayEntriesEvent OnWantDayEntries;
    // Asked after OnWantDayEntries for the events begun on earlier days that
    // reach into this one. Left unassigned by a week view, which asks once
    // for its seven days.
    TWantReachingEntriesEvent OnWantReachingEntries;
    TWantAlarmedFlagEvent OnWantAlarmedFlag;
    // Asked for every entry painted: which repeat glyph it gets, if any.
    TWantRepeatingFlagEvent OnWantRepeatingFlag;
    TWantCategoryDescriptionEvent OnWantCategoryDescription;
    // A drawing failure of the list (see TDayViewList::OnError), with the view
    // as Sender.
    TViewErrorEvent OnError;
    // A double-click in the list, on an event (then selected) or below the
    // last one (nothing selected), with the view as Sender.
    TNotifyEvent OnListDblClick;

    // Header := the date; the view's font (and so the header's) bold when the
    // day is today; then, when OnWantDayEntries is assigned, the events are
    // re-read and the list rebuilt, clearing its selection; a day the handler
    // marked not loaded says so after its date. An error of the
    // handler passes on to the caller; the list is rebuilt from what the
    // handler added before it failed.
    void RefreshEntries();

    // Lays the events of `days` (consecutive, each read) that reach later
    // days over those days, and `earlier`'s (begun before the first) over
    // the days they reach, then rebuilds the days' lists.
    static void Spread(const QList<TDayView*>& days, const TDayEntries& earlier);

    // The selected event's Pk, OwnerKey and Description; "0000000000",
    // "0000000000" and "" without a selection.
    QString SelectedPk() const;
    QString SelectedOwnerKey() const;
    QString SelectedDescription() const;

    // Stamp's Format. Writing it shows the header in the new picture at once
    // but re-reads nothing.
    QString DateFormat() const { return Stamp.Format; }
    void setDateFormat(const QString& format);

    // The list's style.
    const TDisplayStyle& Style() const;
    void setStyle(const TDisplayStyle& style);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void clientChanged() override;

private:
    // The selected index when it names an event of DayEntries, else -1.
    int selectedEntry() const;

    TDayEntries dayEntries_;
    TDayViewList* list_;
    TDayViewHeader* header_;
};
