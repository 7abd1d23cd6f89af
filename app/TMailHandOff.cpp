#include "TMailHandOff.h"

#include <QProcess>
#include <QStringList>

namespace {

QString exitReason(int code)
{
    switch (code) {
    case 1:
        return QStringLiteral("The mail hand-off was refused as malformed");
    case 3:
        return QStringLiteral("No mail program is installed");
    case 4:
        return QStringLiteral("The mail program could not take the message");
    default:
        return QStringLiteral("The mail hand-off failed with code %1").arg(code);
    }
}

} // namespace

TServices::HandOffResult TMailHandOff::Send(const TServices::MailMessage& mail)
{
    using Outcome = TServices::Outcome;
    QStringList arguments{QStringLiteral("--utf8"), QStringLiteral("--subject"), mail.subject,
                          QStringLiteral("--body"), mail.bodyLines.join(QStringLiteral("\r\n"))};
    arguments << mail.recipients;

    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(QStringLiteral("xdg-email"), arguments);
    if (!process.waitForStarted(StartMilliseconds))
        return {Outcome::NotAvailable, QStringLiteral("The desktop's mail hand-off (xdg-email) is not installed")};
    if (!process.waitForFinished(FinishMilliseconds)) {
        process.kill();
        process.waitForFinished(StartMilliseconds);
        return {Outcome::Failed, QStringLiteral("The mail program did not answer in time")};
    }
    if (process.exitStatus() != QProcess::NormalExit)
        return {Outcome::Failed, QStringLiteral("The mail hand-off stopped unexpectedly")};
    if (process.exitCode() != 0)
        return {Outcome::Failed, exitReason(process.exitCode())};
    return {Outcome::Done, {}};
}
