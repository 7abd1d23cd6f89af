#include "TOutageScreen.h"

#include "TCommandScope.h"
#include "TOutageWatch.h"

#include <QScopeGuard>

TOutageScreen::TOutageScreen(TPersonServices& person, TOutageWatch& watch, std::function<void()> afterLostSave)
    : person_(person), watch_(watch), afterLostSave_(std::move(afterLostSave))
{
}

QString TOutageScreen::screen(const QString& text)
{
    const QString shown = watch_.Screen(text);
    if (text == QString::fromLatin1(TCommandScope::LostWhileSaving) && afterLostSave_)
        afterLostSave_();
    return shown;
}

void TOutageScreen::show(const QString& text, const QString& shown)
{
    // A lost commit's answer is not the outage's to take back.
    const bool outage = TOutageWatch::IsOutage(text) && text != QString::fromLatin1(TCommandScope::LostWhileSaving);
    if (outage)
        ++outageBoxes_;
    const auto closed = qScopeGuard([this, outage] {
        if (outage)
            --outageBoxes_;
    });
    person_.showApplicationError(shown);
}

void TOutageScreen::showApplicationError(const QString& text)
{
    const QString shown = screen(text);
    if (!shown.isEmpty())
        show(text, shown);
}

void TOutageScreen::TAsked::showApplicationError(const QString& text)
{
    const QString shown = owner.screen(text);
    owner.show(text, shown.isEmpty() ? owner.watch_.Still() : shown);
}

void TOutageScreen::ShowFailedSave(const QString& text)
{
    asked_.showApplicationError(text);
}

void TOutageScreen::OutageOver()
{
    if (outageBoxes_ > 0)
        person_.withdrawApplicationError();
}
