#include "TStressServices.h"

TPersonServices::MessageAnswer TStressServices::message(MessageKind, MessageButtons buttons, const QString& text)
{
    messages << text;
    return buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
}

QString TStressServices::pickFolder(const QString&)
{
    return QString();
}

QString TStressServices::userName()
{
    return QStringLiteral("STRESS");
}

QSize TStressServices::screenSize()
{
    return QSize(1024, 768);
}

TDesktopServices::ShowState TStressServices::startupShowState()
{
    return ShowState::Normal;
}

bool TStressServices::choosePrinter(QPrinter&)
{
    return false;
}

TDesktopServices::HandOffResult TStressServices::showHelp(const QString&, const QString&)
{
    return HandOffResult{};
}

void TStressServices::showApplicationError(const QString& text)
{
    messages << text;
}
