#include "TCommand.h"

#include "EQuorla.h"
#include "TServices.h"

#include <QAction>
#include <QString>

#include <exception>

std::function<QString(const QString&)> TCommand::Screen;

bool TCommand::Run(const std::function<void()>& command) noexcept
{
    try {
        command();
        return true;
    } catch (...) {
        QString message = EQuorla::MessageOf(std::current_exception());
        try {
            if (Screen)
                message = Screen(message);
            if (!message.isEmpty())
                TServices::current().person().showApplicationError(message);
        } catch (...) {
            // The error box itself failed; there is nobody left to tell.
        }
    }
    return false;
}

void TCommand::Bind(QAction* action, std::function<void()> command)
{
    QObject::connect(action, &QAction::triggered, action, [command = std::move(command)] { Run(command); });
}
