#include "TPersonServices.h"

TPersonServices::~TPersonServices() = default;

QString TPersonServices::messageTitle(MessageKind kind)
{
    switch (kind) {
    case MessageKind::Information:
        return QStringLiteral("Information");
    case MessageKind::Warning:
        return QStringLiteral("Warning");
    case MessageKind::Error:
        return QStringLiteral("Error");
    case MessageKind::Confirmation:
        return QStringLiteral("Confirm");
    }
    return {};
}

void TPersonServices::showApplicationError(const QString& text)
{
    message(MessageKind::Error, MessageButtons::Ok, text);
}

int TPersonServices::choose(const QString& /*text*/, const QStringList& /*choices*/)
{
    return -1;
}

QString TPersonServices::pickFolder(const QString& /*caption*/)
{
    return QString();
}

QString TPersonServices::pickSaveFile(const QString& /*caption*/, const QString& /*suggested*/, const QString& /*filter*/)
{
    return QString();
}

QString TPersonServices::pickOpenFile(const QString& /*caption*/, const QString& /*filter*/)
{
    return QString();
}
