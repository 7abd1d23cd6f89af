#include "TConsoleServices.h"

#include <QSize>
#include <QThread>

#include <cstdio>

TPersonServices::MessageAnswer TConsoleServices::message(MessageKind kind, MessageButtons buttons, const QString& text)
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

QString TConsoleServices::pickFolder(const QString&)
{
    return QString();
}

QString TConsoleServices::userName()
{
    return qEnvironmentVariable("USER", qEnvironmentVariable("LOGNAME"));
}

void TConsoleServices::sleep(int milliseconds)
{
    QThread::msleep(static_cast<unsigned long>(milliseconds));
}

QSize TConsoleServices::screenSize()
{
    return QSize(1024, 768);
}

TDesktopServices::ShowState TConsoleServices::startupShowState()
{
    return ShowState::Normal;
}

bool TConsoleServices::choosePrinter(QPrinter&)
{
    return false;
}

TDesktopServices::HandOffResult TConsoleServices::showHelp(const QString&, const QString&)
{
    return {Outcome::Failed, QStringLiteral("No help window from the command line")};
}
