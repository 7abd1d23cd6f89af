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

    // The text the user reads for any caught error: an EQuorla's message, a
    // standard exception's what(), "Unknown error" for anything else. What the
    // command wrapper shows, and what a view that catches an error itself
    // notes, without either needing the other.
    static QString MessageOf(std::exception_ptr error);

private:
    QString message_;
    QByteArray utf8_;
};
