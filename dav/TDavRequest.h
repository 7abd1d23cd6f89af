#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QString>

// One HTTP request as the service answers it: the method as the client sent
// it (PROPFIND, REPORT...), the decoded path, the headers by lower-case name,
// the body, and how it came (the client's address, whether from this machine,
// whether encrypted).
struct TDavRequest
{
    QByteArray method;
    QString path;
    QHash<QByteArray, QByteArray> headers;
    QByteArray body;
    QString client;
    bool loopback = false;
    bool encrypted = false;

    QByteArray header(const char* name) const { return headers.value(QByteArray(name)); }
};
