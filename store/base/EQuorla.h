#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

// Base of the program's own error classes. Every error carries the message that
// the user will read in the error box; what() gives the same text in UTF-8.
class EQuorla : public std::exception
{
public:
    explicit EQuorla(QString message)
        : message_(std::move(message)), utf8_(message_.toUtf8())
    {
    }

    const QString& message() const noexcept { return message_; }
    const char* what() const noexcept override { return utf8_.constData(); }

private:
    QString message_;
    QByteArray utf8_;
};
