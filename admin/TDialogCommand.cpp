#include "TDialogCommand.h"

#include "EQuorla.h"
#include "TServices.h"

#include <QString>

#include <exception>

namespace {

void report(const QString& text)
{
    TServices::current().message(TServices::MessageKind::Error, TServices::MessageButtons::Ok, text);
}

} // namespace

bool TDialogCommand::Run(const std::function<void()>& command)
{
    try {
        command();
        return true;
    } catch (const EQuorla& e) {
        report(e.message());
    } catch (const std::exception& e) {
        report(QString::fromUtf8(e.what()));
    }
    return false;
}
