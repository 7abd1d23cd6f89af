#include "TDavServer.h"

#include "TDavListener.h"
#include "TDavReply.h"
#include "TDavRequest.h"
#include "TDavService.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QSslSocket>
#include <QTcpSocket>

#include <algorithm>
#include <cstdio>

namespace {

// A field as the log shows it: a backslash and every control, format or
// line-separating character written as \xHH or \uHHHH, so that whatever a
// client puts in a path or a name, one request stays one line and every
// line is the server's own.
QString escaped(const QString& field)
{
    QString shown;
    shown.reserve(field.size());
    for (const QChar c : field) {
        const QChar::Category kind = c.category();
        if (c != QLatin1Char('\\') && kind != QChar::Other_Control && kind != QChar::Other_Format
            && kind != QChar::Separator_Line && kind != QChar::Separator_Paragraph) {
            shown += c;
            continue;
        }
        const bool narrow = c.unicode() < 0x100;
        shown += (narrow ? QStringLiteral("\\x") : QStringLiteral("\\u"))
            + QStringLiteral("%1").arg(c.unicode(), narrow ? 2 : 4, 16, QLatin1Char('0'));
    }
    return shown;
}

} // namespace

TDavServer::TDavServer(TDavService& service, TDavListener* listener, int workers, QObject* parent)
    : QAbstractHttpServer(parent), service_(service), listener_(listener)
{
    workers_.setMaxThreadCount(std::clamp(workers, 1, MaxWorkers));
    // A thread waiting for its next request stays: connections are the
    // service's to keep, threads are cheap to keep too.
    workers_.setExpiryTimeout(-1);
    listener_->OnRefused = [this](QTcpSocket*, const QByteArray& method, int status) {
        log(QString(), method, QStringLiteral("-"), status, 0);
    };
    bind(listener_);
}

bool TDavServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    QElapsedTimer clock;
    clock.start();
    TDavRequest asked;
    asked.method = listener_->TakeMethod(socket);
    asked.path = request.url().path();
    for (const auto& [name, value] : request.headers())
        asked.headers.insert(name.toLower(), value);
    asked.body = request.body();
    asked.client = socket->peerAddress().toString();
    asked.loopback = socket->peerAddress().isLoopback();
    auto* secure = qobject_cast<QSslSocket*>(socket);
    asked.encrypted = secure != nullptr && secure->isEncrypted();

    auto responder = std::make_shared<QHttpServerResponder>(makeResponder(request, socket));
    listener_->Answering(socket, true);
    workers_.start([this, responder, guarded = QPointer<QTcpSocket>(socket), asked, clock] {
        TDavReply reply;
        try {
            reply = service_.Answer(asked);
        } catch (...) {
            reply = TDavReply::Text(500, QStringLiteral("The request failed."));
        }
        QMetaObject::invokeMethod(
            this, [=, this] { send(responder, guarded, asked, reply, clock.elapsed()); }, Qt::QueuedConnection);
    });
    return true;
}

void TDavServer::send(const std::shared_ptr<QHttpServerResponder>& responder, const QPointer<QTcpSocket>& socket,
                      const TDavRequest& asked, const TDavReply& reply, qint64 ms)
{
    log(reply.user, asked.method, asked.path, reply.status, ms);
    if (!socket)
        return;
    listener_->Answering(socket, false);
    responder->writeStatusLine(QHttpServerResponder::StatusCode(reply.status));
    for (const auto& header : reply.headers)
        responder->writeHeader(header.first, header.second);
    responder->writeHeader("Content-Length", QByteArray::number(reply.body.size()));
    responder->writeBody(reply.body);
}

TDavServer::~TDavServer()
{
    workers_.waitForDone();
}

void TDavServer::Finish()
{
    workers_.waitForDone();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    for (QTcpSocket* socket : listener_->findChildren<QTcpSocket*>())
        socket->flush();
}

void TDavServer::missingHandler(const QHttpServerRequest&, QTcpSocket*)
{
}

void TDavServer::log(const QString& user, const QByteArray& method, const QString& path, int status, qint64 ms)
{
    // One pass of arg(), so that a "%2" in a path is never taken for a
    // place of the line.
    const QString line = QStringLiteral("%1 %2 %3 %4 %5 %6ms")
                             .arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODate),
                                  user.isEmpty() ? QStringLiteral("-") : escaped(user),
                                  escaped(QString::fromLatin1(method)), escaped(path), QString::number(status),
                                  QString::number(ms));
    if (Log)
        Log(line);
    else
        std::fprintf(stderr, "%s\n", qPrintable(line));
}
