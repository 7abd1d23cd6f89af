#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTimer>

#include <optional>

class QTcpSocket;

// The service's listening socket, handed to the HTTP server (QAbstractHttpServer
// ::bind). It accepts connections, encrypts them when a certificate is set,
// and watches each request as it comes in, before the HTTP server reads it:
// - the method, which Qt's HTTP server (6.4) cannot tell for anything but the
//   few it knows (PROPFIND and REPORT both come out as "unknown"): taken
//   from the request line, for Method();
// - the size: a request whose declared or received body is larger than
//   MaxBody is answered 413 at once, its bytes (up to DropAtMost) read and
//   dropped so that the client reads the answer, the connection closed;
// - the time: a request not whole within RequestSeconds is answered 408, a
//   connection idle for IdleSeconds is closed.
// Clients send one request at a time on a connection and wait for its answer
// (no pipelining); a connection that pipelines gets the first method for the
// requests it sent together.
class TDavListener : public QTcpServer
{
    Q_OBJECT

public:
    static constexpr qint64 MaxBody = 1024 * 1024;
    static constexpr qint64 MaxHeader = 64 * 1024;
    static constexpr qint64 DropAtMost = 64 * 1024 * 1024;
    static constexpr int RequestSeconds = 30;
    static constexpr int IdleSeconds = 120;

    explicit TDavListener(QObject* parent = nullptr);

    // Encrypts every connection with this configuration (certificate and key).
    void SetTls(const QSslConfiguration& configuration) { tls_ = configuration; }
    bool Encrypts() const { return tls_.has_value(); }

    // The method of the request the HTTP server is handing over on `socket`;
    // from then on the connection waits for its next request.
    QByteArray TakeMethod(QTcpSocket* socket);

    // Told of each request refused here (413, 408), for the log.
    std::function<void(QTcpSocket* socket, const QByteArray& method, int status)> OnRefused;

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    struct TWatch
    {
        QByteArray method;
        bool atStart = true;
        bool headerSeen = false;
        qint64 received = 0;
        QElapsedTimer since;
        bool refused = false;
        // A refused request's body still to come, read and dropped so that
        // the client, which sends it all before it reads, gets the answer.
        qint64 toDrop = 0;
    };
    void watch(QTcpSocket* socket);
    void refuse(QTcpSocket* socket, TWatch& state, int status, const QByteArray& reason);
    void sweep();

    std::optional<QSslConfiguration> tls_;
    QHash<QTcpSocket*, TWatch> watches_;
    QTimer sweeper_;
};
