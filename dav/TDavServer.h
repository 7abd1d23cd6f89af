#pragma once

#include <QAbstractHttpServer>
#include <QHostAddress>
#include <QThreadPool>

#include <QPointer>

#include <functional>
#include <memory>

class QHttpServerResponder;
struct TDavReply;
struct TDavRequest;

class TDavListener;
class TDavService;

// The HTTP side of quorla_dav: Qt's HTTP server reads each request from the
// listener's connections, one of `workers` threads has the service answer it
// (so that a request that waits on the database delays no other), the
// answer is written back from the event loop, and one line per request
// goes to the log: user, method, path, status and milliseconds (never a
// password, never a header), each field escaped so that a request is always
// one line.
class TDavServer : public QAbstractHttpServer
{
    Q_OBJECT

public:
    // Takes `listener` over: it is freed with the server.
    TDavServer(TDavService& service, TDavListener* listener, int workers = DefaultWorkers, QObject* parent = nullptr);
    // Waits for the requests under way; their answers are not sent.
    ~TDavServer() override;

    static constexpr int DefaultWorkers = 8;
    static constexpr int MaxWorkers = 64;

    // Waits for the requests under way and sends their answers: the last
    // thing before the event loop stops for good.
    void Finish();

    // Where the log lines go; standard error unless set.
    std::function<void(const QString& line)> Log;

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    // Writes `reply` on `socket`, unless the client has gone meanwhile.
    void send(const std::shared_ptr<QHttpServerResponder>& responder, const QPointer<QTcpSocket>& socket,
              const TDavRequest& asked, const TDavReply& reply, qint64 ms);
    void log(const QString& user, const QByteArray& method, const QString& path, int status, qint64 ms);

    TDavService& service_;
    TDavListener* listener_;
    QThreadPool workers_;
};
