#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// Whole files read and written by a test as a person or another program
// would, around what the code under test does to them.
namespace TestFile {

// The bytes of the file at `path`; empty when it cannot be read.
inline QByteArray read(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Makes `bytes` the whole of the file at `path`; false when that failed.
inline bool write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

} // namespace TestFile
