#include "TCommand.h"

#include "EQuorla.h"
#include "TPersonServices.h"

#include <QAction>
#include <QString>

#include <exception>

bool TCommand::Run(TPersonServices& person, const std::function<void()>& command) noexcept
{
    try {
        command();
        return true;
    } catch (...) {
        const QString message = EQuorla::MessageOf(std::current_exception());
        try {
            if (!message.isEmpty())
                person.showApplicationError(message);
        } catch (...) {
            // The error box itself failed; there is nobody left to tell.
        }
    }
    return false;
}

void TCommand::Bind(QAction* action, TPersonServices& person, std::function<void()> command)
{
    QObject::connect(action, &QAction::triggered, action, [&person, command = std::move(command)] { Run(person, command); });
}
