#pragma once

#include "TPersonServices.h"

#include <functional>

class TOutageWatch;

// The person's services as the main window hands them to everything it makes
// (its commands, dialogs and views): every call passes to the person's own
// services, but the error a command ends with is first screened through the
// window's outage watch (TOutageWatch::Screen): shown cleaned, or not at all
// when its outage was told already, so that an outage of the database is told
// once however many commands meet it.
class TOutageScreen final : public TPersonServices
{
public:
    // `person` and `watch` outlive this object. `afterLostSave` is told when
    // an error says a commit's answer was lost: the change may be stored, and
    // the window then shows what the database holds.
    TOutageScreen(TPersonServices& person, TOutageWatch& watch, std::function<void()> afterLostSave);

    // The application's error box, when the watch lets `text` through.
    void showApplicationError(const QString& text) override;
    // A failed save that may be tried again from the editor: shown, cleaned,
    // whether or not its outage was told already; the watch still learns of it.
    void ShowFailedSave(const QString& text);
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

    TPersonServices& person_;
    TOutageWatch& watch_;
    std::function<void()> afterLostSave_;
};
