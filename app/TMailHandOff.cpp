#include "TMailHandOff.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QVariant>

namespace {

using Outcome = TDesktopServices::Outcome;

const QString Program = QStringLiteral("xdg-email");
constexpr int QueryMilliseconds = 3000;

} // namespace

QString TMailHandOff::ExitReason(int code)
{
    switch (code) {
    case 1:
        return QStringLiteral("The mail hand-off was refused as malformed");
    case 3:
        return QStringLiteral("No mail program is set up on this workstation");
    case 4:
        return QStringLiteral("The mail program could not take the message");
    default:
        return QStringLiteral("The mail hand-off failed with code %1").arg(code);
    }
}

TDesktopServices::HandOffResult TMailHandOff::Availability()
{
    if (QStandardPaths::findExecutable(Program).isEmpty())
        return {Outcome::NotAvailable,
                QStringLiteral("The desktop's mail hand-off (xdg-email, package xdg-utils) is not installed")};
    if (!qEnvironmentVariableIsEmpty("MAILER"))
        return {Outcome::Done, {}};
    QProcess query;
    query.setStandardErrorFile(QProcess::nullDevice());
    query.start(QStringLiteral("xdg-mime"), {QStringLiteral("query"), QStringLiteral("default"),
                                             QStringLiteral("x-scheme-handler/mailto")});
    const bool answered = query.waitForFinished(QueryMilliseconds);
    if (!answered)
        query.kill();
    if (!answered || query.readAllStandardOutput().trimmed().isEmpty())
        return {Outcome::NotAvailable, QStringLiteral("No mail program is set up on this workstation")};
    return {Outcome::Done, {}};
}

void TMailHandOff::Send(const TDesktopServices::MailMessage& mail, std::function<void(const TDesktopServices::HandOffResult&)> finished)
{
    QStringList arguments{QStringLiteral("--utf8"), QStringLiteral("--subject"), mail.subject,
                          QStringLiteral("--body"), mail.bodyLines.join(QStringLiteral("\r\n"))};
    arguments << mail.recipients;

    // Lives until xdg-email ends; belongs to the application so that it goes
    // at the end of the run at the latest.
    auto* process = new QProcess(QCoreApplication::instance());
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->setStandardOutputFile(QProcess::nullDevice());
    auto report = [process, finished = std::move(finished)](const TDesktopServices::HandOffResult& result) {
        // Once only: a failed start is followed by no finish, a crash by both.
        if (process->property("reported").toBool())
            return;
        process->setProperty("reported", true);
        process->deleteLater();
        if (finished)
            finished(result);
    };
    QObject::connect(process, &QProcess::errorOccurred, process, [report](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            report({Outcome::NotAvailable,
                    QStringLiteral("The desktop's mail hand-off (xdg-email, package xdg-utils) is not installed")});
        else if (error == QProcess::Crashed)
            report({Outcome::Failed, QStringLiteral("The mail hand-off stopped unexpectedly")});
    });
    QObject::connect(process, &QProcess::finished, process, [report](int code, QProcess::ExitStatus status) {
        if (status != QProcess::NormalExit)
            report({Outcome::Failed, QStringLiteral("The mail hand-off stopped unexpectedly")});
        else if (code != 0)
            report({Outcome::Failed, ExitReason(code)});
        else
            report({Outcome::Done, {}});
    });
    process->start(Program, arguments);
}
