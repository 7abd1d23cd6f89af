#pragma once

#include <QAbstractHttpServer>
#include <QHostAddress>

#include <functional>

class TDavListener;
class TDavService;

// The HTTP side of quorla_dav: Qt's HTTP server reads each request from the
// listener's connections, the service answers it, and one line per request
// goes to the log: user, method, path, status and milliseconds (never a
// password, never a header), each field escaped so that a request is always
// one line.
class TDavServer : public QAbstractHttpServer
{
    Q_OBJECT

public:
    // Takes `listener` over: it is freed with the server.
    TDavServer(TDavService& service, TDavListener* listener, QObject* parent = nullptr);

    // Where the log lines go; standard error unless set.
    std::function<void(const QString& line)> Log;

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    void log(const QString& user, const QByteArray& method, const QString& path, int status, qint64 ms);

    TDavService& service_;
    TDavListener* listener_;
};
