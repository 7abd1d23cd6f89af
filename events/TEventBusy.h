#pragma once

#include "TBusyTimes.h"
#include "TRecurrenceRule.h"
#include "TServices.h"

#include <QGroupBox>
#include <QList>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>

class DayEntryRecord;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QListWidget;
class QPushButton;
class QTimeEdit;
class TBusyStrip;
class TQuorlaDB;

// The event editor's "Free and busy" section: for the day chosen, when each
// ticked user (and each chosen resource) is taken, and "Find a time", which
// proposes the next times of the event's length within the office's working
// hours when all of them are free, and sets the one chosen. Before a save it
// warns of other events of the users at the event's time, or, for a repeating
// event, at the times of its occurrences (they may be double-booked all the
// same).
//
// It works on the editor's own controls, which it is handed, and reads the
// database the editor is showing (TContext); without one it shows nothing.
class TEventBusy : public QGroupBox
{
    Q_OBJECT

public:
    // The editor's controls it reads and sets.
    struct TControls
    {
        QDateEdit* date;
        QComboBox* hour;
        QComboBox* minute;
        QCheckBox* unTimed;
        QDateEdit* endDate;
        QTimeEdit* endTime;
        QListWidget* users;
    };
    // What the editor shows: its database (null while closed), the reader,
    // the stored event's key (empty for a new one) and the key of the
    // series it changes (empty for none).
    struct TContext
    {
        TQuorlaDB* database = nullptr;
        QString readerKey;
        QString entryKey;
        QString seriesKey;
    };
    // A resource chosen for the event, by key, with its name.
    struct TResource
    {
        QString key;
        QString name;
    };

    TEventBusy(TServices services, const TControls& controls, std::function<TContext()> context,
               QWidget* parent = nullptr);

    // How many weeks "Find a time" looks ahead, and how many times it offers.
    static constexpr int WeeksSearched = 4;
    static constexpr int TimesOffered = 8;
    static const QString NoFreeTime;
    // How many of a repeating event's days with other events the warning
    // names; the others it counts.
    static constexpr int DaysNamed = 3;

    // The resources chosen in the editor, and where their bookings are read.
    void UseResources(std::function<QList<TResource>()> chosen, TBusyTimes::TBookingsReader bookings);

    // Asks the person whether to save `entry` (with `details`; repeating by
    // `rule`, when given) when other events take its users at its time (at
    // its occurrences' times, the first days named), naming them; true when
    // there are none or he says Yes. A failed read is shown and answers false.
    bool AgreedToOverlaps(const DayEntryRecord& entry, const TEntryDetails& details,
                          const std::optional<TRecurrenceRule>& rule = std::nullopt);

    // Reads the day chosen again (also done on every change of the date,
    // the time or the users).
    void Refresh();

private:
    void refreshSoon();
    void btnFindTimeClick();
    void cmbFreeTimesActivated(int index);
    // The event's start and end as the controls show them (stamp seconds).
    std::pair<qint64, qint64> shownEvent() const;
    QStringList tickedUsers(QStringList* names = nullptr) const;
    // A reader asking as the editor's reader; null without a database.
    std::unique_ptr<TBusyTimes> times(const TContext& context) const;
    QString describe(const TBusyInterval& busy) const;
    bool askOverlaps(const DayEntryRecord& entry, const TEntryDetails& details,
                     const std::optional<TRecurrenceRule>& rule);

    TServices services_;
    TControls controls_;
    std::function<TContext()> context_;
    std::function<QList<TResource>()> resources_;
    TBusyTimes::TBookingsReader bookings_;
    TBusyStrip* strip_;
    QPushButton* btnFindTime_;
    QComboBox* cmbFreeTimes_;
    QTimer refresh_;
};
