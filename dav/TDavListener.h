#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
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
//   connection idle for IdleSeconds is closed (one that never sent a byte
//   after RequestSeconds); a connection whose request is being answered is
//   never idle;
// - the count: one client address holds at most MaxPerAddress connections
//   and all clients MaxConnections; a connection beyond them takes the
//   place of the one idle longest (of that address, else of anyone's), and
//   is closed at once when none is idle. A flood of idle connections thus
//   costs its address its own connections, never the service its file
//   descriptors; and when they run out all the same, accepting resumes as
//   soon as one is free.
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
    static constexpr int MaxPerAddress = 64;
    static constexpr int MaxConnections = 4096;

    explicit TDavListener(QObject* parent = nullptr);

    // Encrypts every connection with this configuration (certificate and key).
    void SetTls(const QSslConfiguration& configuration) { tls_ = configuration; }
    bool Encrypts() const { return tls_.has_value(); }

    // The method of the request the HTTP server is handing over on `socket`;
    // from then on the connection waits for its next request.
    QByteArray TakeMethod(QTcpSocket* socket);

    // Marks the request on `socket` as being answered (the connection is not
    // idle meanwhile), or answered.
    void Answering(QTcpSocket* socket, bool answering);

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
        QHostAddress peer;
        bool answering = false;
        bool used = false; // a request was answered on it
    };
    void watch(QTcpSocket* socket);
    // Makes room for one more connection from `peer`: false when there is
    // none to make.
    bool admit(const QHostAddress& peer);
    // The connection idle longest among those `peer` holds (all with a null
    // `peer`) and how many they are.
    QTcpSocket* idlest(const QHostAddress& peer, int& held) const;
    void resumeSoon();
    void refuse(QTcpSocket* socket, TWatch& state, int status, const QByteArray& reason);
    void sweep();

    std::optional<QSslConfiguration> tls_;
    QHash<QTcpSocket*, TWatch> watches_;
    QTimer sweeper_;
};
