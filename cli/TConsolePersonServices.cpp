#include "TConsolePersonServices.h"

#include <cstdio>

TPersonServices::MessageAnswer TConsolePersonServices::message(MessageKind kind, MessageButtons buttons,
                                                               const QString& text)
{
    QString shown = text;
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    std::fprintf(stderr, "%s: %s\n", qPrintable(messageTitle(kind)), shown.toLocal8Bit().constData());
    switch (buttons) {
    case MessageButtons::YesNo:
        return MessageAnswer::No;
    case MessageButtons::OkCancel:
        return MessageAnswer::Cancel;
    default:
        return MessageAnswer::Ok;
    }
}
