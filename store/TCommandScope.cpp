#include "TCommandScope.h"

#include "EQuorla.h"
#include "IsamCode.h"
#include "TIsamConnection.h"
#include "TQuorlaDB.h"
#include "TXIsamFile.h"

#include <exception>
#include <utility>

const char* const TCommandScope::LostWhileSaving
    = "The connection to the database was lost while saving: the change may have been saved.\r"
      "The view now shows what the database holds.";

TCommandScope::TCommandScope(TQuorlaDB& database)
    : connection_(database.Connection()), exceptions_(std::uncaught_exceptions())
{
    if (connection_)
        connection_->beginCommand();
    else if (database.Location().IsFolder())
        pause_ = std::make_unique<FolderPause::Hold>(database.RootPath());
}

TCommandScope::~TCommandScope() noexcept(false)
{
    pause_.reset();
    if (!connection_)
        return;
    const bool failing = std::uncaught_exceptions() > exceptions_;
    if (failing) {
        connection_->endCommand(false);
        return;
    }
    Commit();
}

void TCommandScope::Commit()
{
    pause_.reset();
    if (!connection_)
        return;
    const auto connection = std::exchange(connection_, nullptr);
    const IsamCode code = connection->endCommand(true);
    if (code == IsamOk)
        return;
    finish(*connection, code);
}

void TCommandScope::finish(TIsamConnection& connection, IsamCode code)
{
    if (connection.commitAnswerLost())
        throw EQuorla(QString::fromLatin1(LostWhileSaving));
    const QString reason = connection.reason();
    throw EQuorla(reason.isEmpty() ? TXIsamFile::ErrorText(code)
                                   : TXIsamFile::ErrorText(code) + QStringLiteral("\r\r") + reason);
}

void TCommandScope::Undo()
{
    pause_.reset();
    if (connection_)
        connection_->endCommand(false);
    connection_.reset();
}
