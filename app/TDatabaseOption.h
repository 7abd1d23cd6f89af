#pragma once

#include <QString>

class TDatabaseLocation;

// The database a workstation is told to open on the command line
// ("quorla --database FOLDER-or-URI"). It is recorded as the workstation's
// "RootPath" before start-up, where the database object looks for it, so the
// program opens that database and the first-start folder picker stays shut.
// The value stays recorded for later starts, exactly as a folder chosen in the
// picker does.
class TDatabaseOption
{
public:
    // Why `location`, as given on the command line, is refused: it is neither
    // a folder nor a server's URI (TDatabaseLocation), or it is a folder that
    // does not exist or is a file (a mistyped path would otherwise become the
    // workstation's database). Whether a server can be reached is the
    // database object's to say. Empty when it is accepted.
    static QString Refusal(const TDatabaseLocation& location);

    // Records an accepted `location` as the workstation's "RootPath", as
    // stored values have always been written: a folder absolute and clean
    // (the next start may come from another working folder), a URI as
    // given. False with `error` set when the settings could not be written.
    static bool Record(const TDatabaseLocation& location, QString& error);
};
