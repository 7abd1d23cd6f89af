#pragma once

#include <QString>

#include <functional>

class QObject;
class TDayEntries;

// The callbacks through which the views ask their owner for what they show.
// `Sender` is the control that raises the event: a week view passes itself,
// never one of its days. The "want" events answer through their reference
// arguments; a handler that leaves them alone keeps the value the view passed.
// Handlers run synchronously, some of them inside painting, and must not
// rebuild the list that asks.

// Fill DayEntries (handed over empty) with every event of the day whose day key
// is DatePkVal, each added under its RecordKey, in the order to be listed.
using TWantDayEntriesEvent
    = std::function<void(QObject* Sender, const QString& DatePkVal, TDayEntries& DayEntries)>;

// Fill Entries (handed over empty) with every event that begins before the
// day whose key is FirstDayKey and reaches into the days FirstDayKey to
// LastDayKey, each added under its RecordKey with its details: what a view
// shows besides the days' own events.
using TWantReachingEntriesEvent = std::function<void(QObject* Sender, const QString& FirstDayKey,
                                                     const QString& LastDayKey, TDayEntries& Entries)>;

// Set Name to the text shown for the user whose RecordKey is Pk.
using TWantUserNameEvent = std::function<void(QObject* Sender, const QString& Pk, QString& Name)>;

// Set Alarmed to true when the event whose RecordKey is Pk has an alarm.
using TWantAlarmedFlagEvent = std::function<void(QObject* Sender, const QString& Pk, bool& Alarmed)>;

// How an event is marked as an occurrence of a repeating event: not at all,
// as one that follows its series, or as one that no longer does (changed
// alone, or left as it was by a change of its series while it was open
// elsewhere).
enum class TRepeatMark { None, Follows, Detached };

// Set Mark to what the event whose RecordKey is Pk is of a repeating event.
using TWantRepeatingFlagEvent = std::function<void(QObject* Sender, const QString& Pk, TRepeatMark& Mark)>;

// Set Description to the text of the category whose RecordKey is Pk.
using TWantCategoryDescriptionEvent
    = std::function<void(QObject* Sender, const QString& Pk, QString& Description)>;

// The list of Sender has received the keyboard focus.
using TReceivedFocusEvent = std::function<void(QObject* Sender)>;

// A plain notification, such as a double-click on a panel's own surface.
using TNotifyEvent = std::function<void(QObject* Sender)>;

// A handler failed while the view was drawing. Raised from the event loop after
// the paint that met the failure, at most once per refresh of the list; the
// owner shows Message to the user.
using TViewErrorEvent = std::function<void(QObject* Sender, const QString& Message)>;
