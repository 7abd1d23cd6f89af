#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Where a Quorla database is: a folder of dataset files, or a database on a
// PostgreSQL server named by a libpq connection URI. Read once from the text a
// workstation stores ("RootPath"), a command line gives or a tool is handed;
// everything that needs to know which of the two it is, or where a dataset of
// it lies, asks this value rather than the text.
//
// - "postgresql://..." or "postgres://...", the two prefixes libpq accepts,
//   as it accepts them, is a server; the rest of the URI is libpq's to judge
//   when it connects.
// - Any other "scheme://..." (mysql://, http://, file://) is refused: taken
//   for a folder it would only fail later, and obscurely.
// - Anything else is a folder; a relative one is taken from the current
//   folder. Whether it exists is for the one who opens it to find out.
// - An empty text is refused.
class TDatabaseLocation
{
public:
    // A refused location, as for an empty text.
    TDatabaseLocation();
    explicit TDatabaseLocation(const QString& text);

    bool IsValid() const { return kind_ != Kind::Refused; }
    bool IsFolder() const { return kind_ == Kind::Folder; }
    bool IsServer() const { return kind_ == Kind::Server; }
    // Why the text is refused, naming it (its password hidden); empty for a
    // valid location.
    const QString& Error() const { return error_; }

    // The location as the engines take it: the folder's absolute, clean path
    // ending in "/", or the URI as given. Empty when refused.
    const QString& Path() const { return path_; }
    // The text a workstation records for it: the folder without the final
    // "/" (as it has always been stored, and as other workstations and
    // older builds read it), the URI as given.
    QString StoredText() const;
    // The name under which dataset `fileName` ("QLUsers.Ism") of this
    // database is created and opened: the folder's file, or the URI, "#" and
    // the dataset.
    QString DatasetName(const QString& fileName) const;
    // For messages: the folder's path, or the URI with every password in it
    // replaced by "***": the user information's ("user:password@") and each
    // query parameter libpq reads as the password ("?password=", its name
    // even percent-encoded). A refused text is shown so too.
    QString Printable() const { return IsFolder() ? path_ : Printable(text_); }
    static QString Printable(const QString& text);
    // The passwords Printable hides in `text`, as written there.
    static QStringList Passwords(const QString& text);

    // Whether `name`, a location or a dataset's name, is on a server: the
    // engines choose by it.
    static bool NamesServer(const QString& name);

    friend bool operator==(const TDatabaseLocation& a, const TDatabaseLocation& b) { return a.path_ == b.path_; }

private:
    // For each character of `text`, whether it belongs to a password.
    static QList<bool> passwordMask(const QString& text);

    enum class Kind { Refused, Folder, Server };
    Kind kind_ = Kind::Refused;
    QString text_;
    QString path_;
    QString error_;
};
