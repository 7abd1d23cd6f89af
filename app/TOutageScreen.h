#pragma once

#include "TPersonServices.h"

#include <functional>

class TOutageWatch;

// The person's services as the main window hands them to everything it makes
// (its commands, dialogs and views): every call passes to the person's own
// services, but the error a command ends with is first screened through the
// window's outage watch (TOutageWatch::Screen): shown cleaned, or not at all
// when its outage was told already, so that an outage of the database is told
// once however many commands meet it. What the person asked for himself is
// never left unanswered: it gets one short line instead (Asked). A box of
// the outage still on show when the database is back is taken away.
class TOutageScreen final : public TPersonServices
{
public:
    // `person` and `watch` outlive this object. `afterLostSave` is told when
    // an error says a commit's answer was lost: the change may be stored, and
    // the window then shows what the database holds.
    TOutageScreen(TPersonServices& person, TOutageWatch& watch, std::function<void()> afterLostSave);

    // The application's error box, when the watch lets `text` through.
    void showApplicationError(const QString& text) override;
    // A failed save that may be tried again from the editor: always told,
    // since the person pressed OK and waits - cleaned, or as the watch's
    // short line (TOutageWatch::Still) when its outage was told already.
    void ShowFailedSave(const QString& text);
    // The person's services for TCommand to run what the person asked for
    // (a menu command, a key, a button, a double-click): when it ends with
    // an outage told already, he gets the watch's short line rather than
    // silence. What only refreshes (views, the alarm poll) stays quiet.
    TPersonServices& Asked() { return asked_; }
    // The outage is over: its box, when one is still on show, is closed.
    void OutageOver();
    // The person's own services, nothing screened.
    TPersonServices& Unscreened() const { return person_; }

    MessageAnswer message(MessageKind kind, MessageButtons buttons, const QString& text) override
    {
        return person_.message(kind, buttons, text);
    }
    int choose(const QString& text, const QStringList& choices) override { return person_.choose(text, choices); }
    QString pickFolder(const QString& caption) override { return person_.pickFolder(caption); }
    QString pickSaveFile(const QString& caption, const QString& suggested, const QString& filter) override
    {
        return person_.pickSaveFile(caption, suggested, filter);
    }
    QString pickOpenFile(const QString& caption, const QString& filter) override
    {
        return person_.pickOpenFile(caption, filter);
    }
    void pushBusyCursor() override { person_.pushBusyCursor(); }
    void popBusyCursor() override { person_.popBusyCursor(); }

private:
    // What the watch lets through of `text`; empty for nothing.
    QString screen(const QString& text);
    // Shows `shown` for the error `text`, noting while it shows when it tells
    // of an outage.
    void show(const QString& text, const QString& shown);

    // Where what the person asked for ends up when it fails: the screen's
    // message box and error box; it asks nothing else.
    struct TAsked final : TPersonServices
    {
        explicit TAsked(TOutageScreen& owner) : owner(owner) {}
        MessageAnswer message(MessageKind kind, MessageButtons buttons, const QString& text) override
        {
            return owner.message(kind, buttons, text);
        }
        void showApplicationError(const QString& text) override;
        TOutageScreen& owner;
    };

    TPersonServices& person_;
    TOutageWatch& watch_;
    std::function<void()> afterLostSave_;
    TAsked asked_{*this};
    // Boxes telling of an outage on show now.
    int outageBoxes_ = 0;
};
