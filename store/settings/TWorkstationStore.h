#pragma once

#include <QSettings>
#include <QString>
#include <QtGlobal>

#include <memory>

// The workstation's own small store of named values: the database location and
// the display settings, kept per workstation and never in the shared database.
//
// It lives in QSettings under organisation "KLV", application "Quorla", native
// format. On Windows that is the registry key Software\KLV\Quorla under the
// local machine, shared by everyone who logs in there. Elsewhere it is the INI
// file KLV/Quorla.conf in the user's configuration folder (XDG_CONFIG_HOME):
// the machine-wide file would be writable by root only and so would stop the
// program at its first start.
//
// The store must be opened before use. Reads of a value that is missing or of
// the wrong type give the caller's default, each on its own. What counts as the
// right type, given that an INI file keeps every value as text:
// - an integer is a whole decimal number that fits in 32 bits, optionally with
//   a leading '-', and nothing else (no blanks, no "0x", no trailing text);
// - a Boolean is stored as such an integer, 0 or 1; any non-zero integer reads
//   as true, and a word like "true" is of the wrong type;
// - a text is any single text value (a list, as an INI line with an unquoted
//   comma becomes, is of the wrong type).
// The INI file is kept readable by its owner only (mode 0600): the database
// location may be a URI with a password. Every write is flushed at once, so that a value written before a long or
// failing step is already on disk, and so that a failure can be reported.
class TWorkstationStore
{
public:
    TWorkstationStore();
    ~TWorkstationStore();
    TWorkstationStore(const TWorkstationStore&) = delete;
    TWorkstationStore& operator=(const TWorkstationStore&) = delete;

    // Opens the program's key. Without `create`, fails when the key does not
    // exist yet; with it, makes an empty key when there is none and fails only
    // when that cannot be done. Opening an open store reopens it.
    bool OpenKey(bool create);
    void CloseKey();
    bool IsOpen() const { return settings_ != nullptr; }

    // Where the values live: the INI file's path or the registry path.
    QString Location() const;

    bool ValueExists(const QString& name) const;
    qint32 ReadInteger(const QString& name, qint32 defaultValue) const;
    bool ReadBool(const QString& name, bool defaultValue) const;
    QString ReadString(const QString& name, const QString& defaultValue) const;

    // Each write answers false when the store is not open or the value could
    // not be written to disk.
    bool WriteInteger(const QString& name, qint32 value);
    bool WriteBool(const QString& name, bool value);
    bool WriteString(const QString& name, const QString& value);
    // Removes a value; false when the store is not open, the value does not
    // exist or the change could not be written.
    bool DeleteValue(const QString& name);

    static constexpr const char* Organisation = "KLV";
    static constexpr const char* Application = "Quorla";

private:
    static std::unique_ptr<QSettings> makeSettings();
    static bool keyExists(const QSettings& settings);
    bool write(const QString& name, const QVariant& value);
    // Makes the file readable and writable by its owner only (0600).
    void keepPrivate() const;

    std::unique_ptr<QSettings> settings_;
};
