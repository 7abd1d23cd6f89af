#include "TOutageScreen.h"

#include "TCommandScope.h"
#include "TOutageWatch.h"

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

void TOutageScreen::showApplicationError(const QString& text)
{
    const QString shown = screen(text);
    if (!shown.isEmpty())
        person_.showApplicationError(shown);
}

void TOutageScreen::ShowFailedSave(const QString& text)
{
    screen(text);
    person_.showApplicationError(TOutageWatch::Clean(text));
}
