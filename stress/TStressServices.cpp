#include "TStressServices.h"

TPersonServices::MessageAnswer TStressServices::message(MessageKind, MessageButtons buttons, const QString& text)
{
    messages << text;
    return buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
}

QString TStressServices::userName()
{
    return QStringLiteral("STRESS");
}

void TStressServices::showApplicationError(const QString& text)
{
    messages << text;
}
