#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// The answer to one request: status, headers and body; `user` is who was
// logged in (for the log line), empty before the log-in.
struct TDavReply
{
    int status = 200;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    QString user;

    void addHeader(const QByteArray& name, const QByteArray& value) { headers.append(qMakePair(name, value)); }

    // A plain-text answer whose body is `text` and a line break.
    static TDavReply Text(int status, const QString& text)
    {
        TDavReply reply;
        reply.status = status;
        reply.addHeader("Content-Type", "text/plain; charset=utf-8");
        reply.body = text.toUtf8() + '\n';
        return reply;
    }
};
