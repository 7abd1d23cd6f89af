#include "TDavListener.h"

#include <QSslSocket>

TDavListener::TDavListener(QObject* parent)
    : QTcpServer(parent)
{
    sweeper_.setInterval(1000);
    connect(&sweeper_, &QTimer::timeout, this, &TDavListener::sweep);
    sweeper_.start();
    connect(this, &QTcpServer::acceptError, this, &TDavListener::resumeSoon);
}

void TDavListener::resumeSoon()
{
    // Qt stops accepting when the process runs out of file descriptors: an
    // idle connection gives one back, and accepting goes on a moment later.
    int held = 0;
    if (QTcpSocket* idle = idlest(QHostAddress(), held)) {
        idle->abort();
        idle->deleteLater();
    }
    QTimer::singleShot(100, this, &QTcpServer::resumeAccepting);
}

QTcpSocket* TDavListener::idlest(const QHostAddress& peer, int& held) const
{
    QTcpSocket* found = nullptr;
    qint64 longest = -1;
    held = 0;
    for (auto one = watches_.cbegin(); one != watches_.cend(); ++one) {
        if (!peer.isNull() && one->peer != peer)
            continue;
        ++held;
        if (one->atStart && !one->answering && one->since.elapsed() > longest) {
            longest = one->since.elapsed();
            found = one.key();
        }
    }
    return found;
}

bool TDavListener::admit(const QHostAddress& peer)
{
    for (const QHostAddress& among : {peer, QHostAddress()}) {
        int held = 0;
        QTcpSocket* idle = idlest(among, held);
        if (held < (among.isNull() ? MaxConnections : MaxPerAddress))
            continue;
        if (idle == nullptr)
            return false;
        // Gone from the count now, its object a moment later.
        watches_.remove(idle);
        idle->abort();
        idle->deleteLater();
    }
    return true;
}

void TDavListener::incomingConnection(qintptr descriptor)
{
    QTcpSocket* socket = nullptr;
    if (tls_) {
        auto* secure = new QSslSocket(this);
        if (!secure->setSocketDescriptor(descriptor)) {
            delete secure;
            return;
        }
        secure->setSslConfiguration(*tls_);
        // A client that fails the handshake is dropped: nothing was said.
        connect(secure, &QSslSocket::sslErrors, secure, [secure] { secure->abort(); });
        secure->startServerEncryption();
        socket = secure;
    } else {
        socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
    }
    if (!admit(socket->peerAddress())) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    // Connected before the HTTP server's own handler, so each chunk is seen
    // here first.
    watch(socket);
    addPendingConnection(socket);
}

void TDavListener::watch(QTcpSocket* socket)
{
    TWatch& state = watches_[socket];
    state.since.start();
    state.peer = socket->peerAddress();
    connect(socket, &QObject::destroyed, this, [this, socket] { watches_.remove(socket); });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QIODevice::readyRead, this, [this, socket] {
        auto found = watches_.find(socket);
        if (found == watches_.end())
            return;
        TWatch& state = *found;
        if (state.refused) {
            state.toDrop -= socket->readAll().size();
            if (state.toDrop <= 0)
                socket->disconnectFromHost();
            return;
        }
        const QByteArray seen = socket->peek(MaxHeader);
        if (state.atStart) {
            const qsizetype space = seen.indexOf(' ');
            if (space < 0 && seen.size() < 32)
                return;
            state.method = seen.left(space < 0 ? 32 : space);
            state.atStart = false;
            state.headerSeen = false;
            state.received = 0;
            state.since.start();
        }
        if (!state.headerSeen) {
            // The declared length, once the whole header is in.
            const qsizetype end = seen.indexOf("\r\n\r\n");
            if (end >= 0) {
                state.headerSeen = true;
                const QByteArray head = seen.left(end).toLower();
                const qsizetype length = head.indexOf("\r\ncontent-length:");
                if (length >= 0) {
                    const qsizetype from = length + 17;
                    const qsizetype lineEnd = head.indexOf("\r\n", from);
                    const qint64 declared = head.mid(from, lineEnd < 0 ? -1 : lineEnd - from).trimmed().toLongLong();
                    if (declared > MaxBody) {
                        state.toDrop = declared <= DropAtMost ? end + 4 + declared : 0;
                        refuse(socket, state, 413, "The request is larger than 1 MiB.");
                        return;
                    }
                }
            } else if (seen.size() >= MaxHeader) {
                refuse(socket, state, 413, "The request's header is larger than 64 KiB.");
                return;
            }
        }
        state.received += seen.size();
        if (state.received > MaxBody + MaxHeader)
            refuse(socket, state, 413, "The request is larger than 1 MiB.");
    });
}

void TDavListener::refuse(QTcpSocket* socket, TWatch& state, int status, const QByteArray& reason)
{
    state.refused = true;
    state.toDrop -= socket->readAll().size();
    const QByteArray phrase = status == 413 ? "Payload Too Large" : "Request Timeout";
    const QByteArray body = reason + '\n';
    socket->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + phrase
                  + "\r\nContent-Type: text/plain; charset=utf-8\r\nConnection: close\r\nContent-Length: "
                  + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    if (OnRefused)
        OnRefused(socket, state.method, status);
    if (state.toDrop <= 0)
        socket->disconnectFromHost();
}

QByteArray TDavListener::TakeMethod(QTcpSocket* socket)
{
    auto found = watches_.find(socket);
    if (found == watches_.end())
        return QByteArray();
    found->atStart = true;
    found->since.start();
    return found->method;
}

void TDavListener::Answering(QTcpSocket* socket, bool answering)
{
    auto found = watches_.find(socket);
    if (found == watches_.end())
        return;
    found->answering = answering;
    found->used = true;
    found->since.start();
}

void TDavListener::sweep()
{
    const QList<QTcpSocket*> sockets = watches_.keys();
    for (QTcpSocket* socket : sockets) {
        auto found = watches_.find(socket);
        if (found == watches_.end() || found->refused || found->answering)
            continue;
        const qint64 seconds = found->since.elapsed() / 1000;
        if (!found->atStart && seconds >= RequestSeconds)
            refuse(socket, *found, 408, "The request was not received in time.");
        else if (found->atStart && seconds >= (found->used ? IdleSeconds : RequestSeconds))
            socket->disconnectFromHost();
    }
}
