// quorla_dav: the Quorla calendar served over CalDAV to phones and desktop
// calendars, read and written by each user with his Quorla name and password.
// It runs until SIGTERM or SIGINT and then stops cleanly: the requests being
// answered are finished, every lock is released, the connections are closed.

#include "EQuorla.h"
#include "TCommandLine.h"
#include "TConsoleMachineServices.h"
#include "TConsolePersonServices.h"
#include "TDatabaseLocation.h"
#include "TDavListener.h"
#include "TDavServer.h"
#include "TDavService.h"

#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>
#include <QSocketNotifier>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>

#include <csignal>
#include <memory>
#include <cstdio>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

// Every connection is a file descriptor: the soft limit (often 1024) is
// raised to what the system allows this process (the unit's LimitNOFILE).
void raiseFileLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace

int main(int argc, char** argv)
{
    TCommandLine line(QStringLiteral("quorla_dav"), QStringLiteral("[OPTION]... --listen=ADDRESS:PORT --database=PLACE"),
                      QStringLiteral("Serves the Quorla calendar over CalDAV: each user logs in with his Quorla name "
                                     "and password and sees, adds, changes and deletes his events."));
    line.AddOption(QStringLiteral("listen"), QStringLiteral("ADDRESS:PORT"),
                   QStringLiteral("where to listen, as 127.0.0.1:8008 or [::]:8443"), QLatin1Char('l'));
    line.AddOption(QStringLiteral("database"), QStringLiteral("PLACE"),
                   QStringLiteral("the database: its folder, or a postgresql:// connection URI"), QLatin1Char('d'));
    line.AddOption(QStringLiteral("certificate"), QStringLiteral("FILE"),
                   QStringLiteral("the TLS certificate (PEM): serve HTTPS"));
    line.AddOption(QStringLiteral("key"), QStringLiteral("FILE"), QStringLiteral("the certificate's private key (PEM)"));
    line.AddOption(QStringLiteral("workers"), QStringLiteral("N"),
                   QStringLiteral("requests answered at once, each on its own connection to the database (1 to %1, "
                                  "default %2)")
                       .arg(TDavServer::MaxWorkers)
                       .arg(TDavServer::DefaultWorkers));
    line.SetEpilogue(QStringLiteral(
        "Without a certificate the service speaks plain HTTP and refuses log-ins that do not come from this "
        "machine: put it behind a reverse proxy on this machine, or give it a certificate.\n\nOne line per "
        "request goes to standard error: time, user, method, path, status, milliseconds.\n\nExit status: 0 "
        "after SIGTERM or SIGINT, 1 if the service cannot start, 2 for a wrong command line."));
    if (line.Parse(argc, argv) != TCommandLine::Result::Run)
        return line.Answer();
    for (const char* required : {"listen", "database"}) {
        if (!line.IsSet(QLatin1String(required)))
            return line.UsageFailure(QStringLiteral("missing --%1").arg(QLatin1String(required)));
    }
    if (line.IsSet(QStringLiteral("certificate")) != line.IsSet(QStringLiteral("key")))
        return line.UsageFailure(QStringLiteral("--certificate and --key go together"));
    const QString listen = line.Value(QStringLiteral("listen"));
    const qsizetype colon = listen.lastIndexOf(QLatin1Char(':'));
    bool portOk = false;
    const int port = colon < 0 ? 0 : listen.mid(colon + 1).toInt(&portOk);
    QString host = colon < 0 ? QString() : listen.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    const QHostAddress address(host);
    if (!portOk || port < 0 || port > 65535 || address.isNull())
        return line.UsageFailure(QStringLiteral("--listen takes ADDRESS:PORT, as 127.0.0.1:8008 (not %1)").arg(listen));
    int workers = TDavServer::DefaultWorkers;
    if (line.IsSet(QStringLiteral("workers"))) {
        bool workersOk = false;
        workers = line.Value(QStringLiteral("workers")).toInt(&workersOk);
        if (!workersOk || workers < 1 || workers > TDavServer::MaxWorkers)
            return line.UsageFailure(QStringLiteral("--workers takes a number from 1 to %1").arg(TDavServer::MaxWorkers));
    }
    const TDatabaseLocation location(line.Value(QStringLiteral("database")));
    if (!location.IsValid())
        return line.UsageFailure(location.Error());

    raiseFileLimit();
    QCoreApplication app(argc, argv);
    TConsolePersonServices person;
    TConsoleMachineServices machine;
    int status = TCommandLine::ExitSuccess;
    try {
        // Handed to the HTTP server, which owns it from then on.
        auto listening = std::make_unique<TDavListener>();
        TDavListener& listener = *listening;
        // Watched from the start, so that a stop asked for while the database
        // opens is kept for the event loop.
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
            throw EQuorla(QStringLiteral("Unable to watch for signals"));
        std::signal(SIGTERM, onSignal);
        std::signal(SIGINT, onSignal);
        QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
        QObject::connect(&notifier, &QSocketNotifier::activated, &app, [&] {
            char byte = 0;
            [[maybe_unused]] const auto read = ::read(signalPipe[0], &byte, 1);
            listener.close();
            app.quit();
        });
        if (line.IsSet(QStringLiteral("certificate"))) {
            QFile certificateFile(line.Value(QStringLiteral("certificate")));
            QFile keyFile(line.Value(QStringLiteral("key")));
            if (!certificateFile.open(QIODevice::ReadOnly))
                throw EQuorla(QStringLiteral("Unable to read %1: %2").arg(certificateFile.fileName(), certificateFile.errorString()));
            if (!keyFile.open(QIODevice::ReadOnly))
                throw EQuorla(QStringLiteral("Unable to read %1: %2").arg(keyFile.fileName(), keyFile.errorString()));
            const QList<QSslCertificate> chain = QSslCertificate::fromDevice(&certificateFile, QSsl::Pem);
            const QByteArray keyText = keyFile.readAll();
            QSslKey key(keyText, QSsl::Rsa, QSsl::Pem);
            if (key.isNull())
                key = QSslKey(keyText, QSsl::Ec, QSsl::Pem);
            if (chain.isEmpty())
                throw EQuorla(QStringLiteral("%1 holds no PEM certificate").arg(certificateFile.fileName()));
            if (key.isNull())
                throw EQuorla(QStringLiteral("%1 holds no PEM private key (RSA or EC, without a passphrase)").arg(keyFile.fileName()));
            QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
            tls.setLocalCertificateChain(chain);
            tls.setPrivateKey(key);
            tls.setPeerVerifyMode(QSslSocket::VerifyNone);
            listener.SetTls(tls);
        }
        TDavService service({&person, nullptr, &machine}, location);
        if (!listener.listen(address, quint16(port)))
            throw EQuorla(QStringLiteral("Unable to listen on %1: %2").arg(listen, listener.errorString()));
        TDavServer server(service, listening.release(), workers);

        std::fprintf(stderr, "quorla_dav: serving %s on %s://%s:%d/dav/\n", qPrintable(location.Printable()),
                     listener.Encrypts() ? "https" : "http", qPrintable(address.toString()),
                     int(listener.serverPort()));
        app.exec();
        server.Finish();
        std::fprintf(stderr, "quorla_dav: stopped\n");
    } catch (const EQuorla& e) {
        QString message = e.message();
        message.replace(QLatin1String("\r\r"), QLatin1String(": ")).replace(QLatin1Char('\r'), QLatin1Char(' '));
        status = line.Failure(message);
    }
    return status;
}
