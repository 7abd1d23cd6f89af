#pragma once

#include <QString>

// The database a workstation is told to open on the command line
// ("quorla --database FOLDER-or-URI"). It is recorded as the workstation's
// "RootPath" before start-up, where the database object looks for it, so the
// program opens that database and the first-start folder picker stays shut.
// The value stays recorded for later starts, exactly as a folder chosen in the
// picker does.
class TDatabaseOption
{
public:
    // Records `given` as the workstation's "RootPath". A connection URI
    // ("scheme://...") is stored as given: whether the program can reach it is
    // the database object's to say. Anything else is a folder; it must exist
    // (a mistyped path would otherwise become the workstation's database) and
    // is stored absolute and clean, since the next start may come from another
    // working folder. False with `error` set when the value is refused or the
    // workstation's settings could not be written; a refused value stores
    // nothing.
    static bool Record(const QString& given, QString& error);

    // Whether `text` has the form of a URI: a scheme, then "://".
    static bool IsUri(const QString& text);
};
