#include "TWorkstationStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaType>
#include <QVariant>

#include <limits>

namespace {

// A whole decimal number that fits in 32 bits, and nothing else.
bool parseInteger(const QVariant& value, qint32& result)
{
    qint64 wide = 0;
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: {
        bool ok = false;
        wide = value.toLongLong(&ok);
        if (!ok)
            return false;
        break;
    }
    case QMetaType::QString: {
        const QString text = value.toString();
        const qsizetype start = text.startsWith(QLatin1Char('-')) ? 1 : 0;
        // Ten digits hold every 32-bit number; the check also keeps the wide
        // conversion below from overflowing.
        const qsizetype digits = text.size() - start;
        if (digits < 1 || digits > 10)
            return false;
        for (qsizetype i = start; i < text.size(); ++i) {
            if (text[i] < QLatin1Char('0') || text[i] > QLatin1Char('9'))
                return false;
        }
        wide = text.toLongLong();
        break;
    }
    default:
        return false;
    }
    if (wide < std::numeric_limits<qint32>::min() || wide > std::numeric_limits<qint32>::max())
        return false;
    result = static_cast<qint32>(wide);
    return true;
}

} // namespace

TWorkstationStore::TWorkstationStore() = default;

TWorkstationStore::~TWorkstationStore() = default;

std::unique_ptr<QSettings> TWorkstationStore::makeSettings()
{
#ifdef Q_OS_WIN
    const QSettings::Scope scope = QSettings::SystemScope;
#else
    const QSettings::Scope scope = QSettings::UserScope;
#endif
    return std::make_unique<QSettings>(QSettings::NativeFormat, scope, QLatin1String(Organisation),
                                       QLatin1String(Application));
}

bool TWorkstationStore::keyExists(const QSettings& settings)
{
#ifdef Q_OS_WIN
    // QSettings cannot tell an empty registry key from a missing one; a key
    // without values counts as missing, which only ever asks one question more.
    return !settings.allKeys().isEmpty();
#else
    return QFileInfo::exists(settings.fileName());
#endif
}

bool TWorkstationStore::OpenKey(bool create)
{
    CloseKey();
    auto settings = makeSettings();
    if (!keyExists(*settings)) {
        if (!create)
            return false;
#ifdef Q_OS_WIN
        if (!settings->isWritable())
            return false;
#else
        // QSettings writes no file until there is a value, but an opened key
        // must exist afterwards, as a registry key does.
        const QFileInfo file(settings->fileName());
        if (!QDir().mkpath(file.absolutePath()))
            return false;
        QFile empty(file.absoluteFilePath());
        if (!empty.open(QIODevice::WriteOnly | QIODevice::Append))
            return false;
        empty.close();
        settings = makeSettings();
#endif
    }
    settings_ = std::move(settings);
    keepPrivate();
    return true;
}

void TWorkstationStore::keepPrivate() const
{
#ifndef Q_OS_WIN
    // The location may carry a password (a server's URI): only its owner
    // reads the file. A file of an older build is closed up at its next use;
    // rewrites keep the mode (QSettings replaces the file through QSaveFile,
    // which takes the old file's permissions).
    const QString file = settings_->fileName();
    constexpr QFileDevice::Permissions Others = QFileDevice::ReadGroup | QFileDevice::WriteGroup
        | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    if (QFileInfo::exists(file) && (QFile::permissions(file) & Others))
        QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
#endif
}

void TWorkstationStore::CloseKey()
{
    settings_.reset();
}

QString TWorkstationStore::Location() const
{
    return settings_ ? settings_->fileName() : makeSettings()->fileName();
}

bool TWorkstationStore::ValueExists(const QString& name) const
{
    return settings_ && settings_->contains(name);
}

qint32 TWorkstationStore::ReadInteger(const QString& name, qint32 defaultValue) const
{
    qint32 value = 0;
    if (settings_ && parseInteger(settings_->value(name), value))
        return value;
    return defaultValue;
}

bool TWorkstationStore::ReadBool(const QString& name, bool defaultValue) const
{
    qint32 value = 0;
    if (settings_ && parseInteger(settings_->value(name), value))
        return value != 0;
    return defaultValue;
}

QString TWorkstationStore::ReadString(const QString& name, const QString& defaultValue) const
{
    if (settings_) {
        const QVariant value = settings_->value(name);
        if (value.typeId() == QMetaType::QString)
            return value.toString();
    }
    return defaultValue;
}

bool TWorkstationStore::WriteInteger(const QString& name, qint32 value)
{
    return write(name, QVariant(value));
}

bool TWorkstationStore::WriteBool(const QString& name, bool value)
{
    return write(name, QVariant(qint32(value ? 1 : 0)));
}

bool TWorkstationStore::WriteString(const QString& name, const QString& value)
{
    return write(name, QVariant(value));
}

bool TWorkstationStore::DeleteValue(const QString& name)
{
    if (!settings_ || !settings_->contains(name))
        return false;
    settings_->remove(name);
    settings_->sync();
    return settings_->status() == QSettings::NoError;
}

// QSettings keeps the first error it met, so after one failed write every later
// write of this opening reports failure too; reopening starts afresh.
bool TWorkstationStore::write(const QString& name, const QVariant& value)
{
    if (!settings_)
        return false;
    settings_->setValue(name, value);
    settings_->sync();
    keepPrivate();
    return settings_->status() == QSettings::NoError;
}
