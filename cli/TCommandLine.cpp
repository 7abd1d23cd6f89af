#include "TCommandLine.h"

#include <cstdio>
#include <utility>

namespace {

const QString HelpName = QStringLiteral("help");
const QString VersionName = QStringLiteral("version");

// Help lines wrap their text after this column, as GNU programs' do.
constexpr qsizetype HelpTextColumn = 30;

void print(FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

} // namespace

TCommandLine::TCommandLine(QString program, QString usage, QString summary)
    : program_(std::move(program)), usage_(std::move(usage)), summary_(std::move(summary))
{
    options_.append({HelpName, QString(), QStringLiteral("display this help and exit"), QLatin1Char('h')});
    options_.append({VersionName, QString(), QStringLiteral("output version information and exit"), QLatin1Char('V')});
}

QString TCommandLine::Version()
{
    return QStringLiteral(QUORLA_VERSION);
}

void TCommandLine::AddOption(const QString& name, const QString& valueName, const QString& help, QChar shortName)
{
    // Before help and version, which close the list as in every GNU program.
    options_.insert(options_.size() - 2, {name, valueName, help, shortName});
}

void TCommandLine::SetOperands(int minimum, int maximum)
{
    minOperands_ = minimum;
    maxOperands_ = maximum;
}

void TCommandLine::AddPassThrough(const QString& name, bool takesValue)
{
    passThrough_.insert(name, takesValue);
}

TCommandLine::Result TCommandLine::Parse(int argc, const char* const* argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return Parse(arguments);
}

TCommandLine::Result TCommandLine::fail(const QString& message)
{
    error_ = message;
    return result_ = Result::UsageError;
}

void TCommandLine::record(const Option& option, const QString& value)
{
    values_.insert(option.name, value);
}

TCommandLine::Result TCommandLine::Parse(const QStringList& arguments)
{
    result_ = Result::Run;
    error_.clear();
    values_.clear();
    operands_.clear();
    passedThrough_.clear();

    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (optionsEnded || argument == QLatin1String("-") || !argument.startsWith(QLatin1Char('-'))) {
            operands_.append(argument);
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (takePassThrough(arguments, i)) {
            if (result_ == Result::UsageError)
                return result_;
            continue;
        }

        if (argument.startsWith(QLatin1String("--"))) {
            const QString body = argument.mid(2);
            const qsizetype equals = body.indexOf(QLatin1Char('='));
            const Option* option = findLong(equals < 0 ? body : body.left(equals));
            if (option == nullptr)
                return result_;
            if (option->valueName.isEmpty()) {
                if (equals >= 0)
                    return fail(QStringLiteral("option '--%1' doesn't allow an argument").arg(option->name));
                record(*option, QString());
            } else if (equals >= 0) {
                record(*option, body.mid(equals + 1));
            } else if (i + 1 < arguments.size()) {
                record(*option, arguments[++i]);
            } else {
                return fail(QStringLiteral("option '--%1' requires an argument").arg(option->name));
            }
        } else {
            for (qsizetype j = 1; j < argument.size(); ++j) {
                const Option* option = findShort(argument[j]);
                if (option == nullptr)
                    return fail(QStringLiteral("invalid option -- '%1'").arg(argument[j]));
                if (option->valueName.isEmpty()) {
                    record(*option, QString());
                    if (option->name == HelpName || option->name == VersionName)
                        break;
                    continue;
                }
                // The rest of the group is the value, or else the next argument.
                if (j + 1 < argument.size())
                    record(*option, argument.mid(j + 1));
                else if (i + 1 < arguments.size())
                    record(*option, arguments[++i]);
                else
                    return fail(QStringLiteral("option requires an argument -- '%1'").arg(argument[j]));
                break;
            }
        }
        // Help and version answer at once, whatever follows them.
        if (values_.contains(HelpName))
            return result_ = Result::Help;
        if (values_.contains(VersionName))
            return result_ = Result::Version;
    }

    if (operands_.size() < minOperands_) {
        return fail(operands_.isEmpty() ? QStringLiteral("missing operand")
                                        : QStringLiteral("missing operand after '%1'").arg(operands_.last()));
    }
    if (operands_.size() > maxOperands_)
        return fail(QStringLiteral("extra operand '%1'").arg(operands_[maxOperands_]));
    return result_;
}

bool TCommandLine::takePassThrough(const QStringList& arguments, qsizetype& index)
{
    const QString& argument = arguments[index];
    const QString body = argument.mid(argument.startsWith(QLatin1String("--")) ? 2 : 1);
    const qsizetype equals = body.indexOf(QLatin1Char('='));
    const QString name = equals < 0 ? body : body.left(equals);
    const auto found = passThrough_.constFind(name);
    if (found == passThrough_.constEnd())
        return false;
    passedThrough_.append(argument);
    if (found.value() && equals < 0) {
        if (index + 1 >= arguments.size()) {
            fail(QStringLiteral("option '%1' requires an argument").arg(argument));
            return true;
        }
        passedThrough_.append(arguments[++index]);
    }
    return true;
}

const TCommandLine::Option* TCommandLine::findLong(const QString& given)
{
    QList<const Option*> candidates;
    for (const Option& option : options_) {
        if (option.name == given)
            return &option;
        if (!given.isEmpty() && option.name.startsWith(given))
            candidates.append(&option);
    }
    if (candidates.size() == 1)
        return candidates.first();
    if (candidates.isEmpty()) {
        fail(QStringLiteral("unrecognized option '--%1'").arg(given));
    } else {
        QString possibilities;
        for (const Option* option : candidates)
            possibilities += QStringLiteral(" '--%1'").arg(option->name);
        fail(QStringLiteral("option '--%1' is ambiguous; possibilities:%2").arg(given, possibilities));
    }
    return nullptr;
}

const TCommandLine::Option* TCommandLine::findShort(QChar c) const
{
    for (const Option& option : options_) {
        if (!option.shortName.isNull() && option.shortName == c)
            return &option;
    }
    return nullptr;
}

QString TCommandLine::HelpText() const
{
    QString text = QStringLiteral("Usage: %1 %2\n").arg(program_, usage_);
    if (!summary_.isEmpty())
        text += summary_ + QLatin1Char('\n');
    text += QStringLiteral("\nOptions:\n");
    const QString indent(HelpTextColumn, QLatin1Char(' '));
    for (const Option& option : options_) {
        QString left = option.shortName.isNull() ? QStringLiteral("      ")
                                                 : QStringLiteral("  -%1, ").arg(option.shortName);
        left += QStringLiteral("--") + option.name;
        if (!option.valueName.isEmpty())
            left += QLatin1Char('=') + option.valueName;
        if (left.size() + 2 > HelpTextColumn)
            text += left + QLatin1Char('\n') + indent;
        else
            text += left.leftJustified(HelpTextColumn);
        text += QString(option.help).replace(QLatin1Char('\n'), QLatin1Char('\n') + indent) + QLatin1Char('\n');
    }
    if (!epilogue_.isEmpty())
        text += QLatin1Char('\n') + epilogue_ + QLatin1Char('\n');
    return text;
}

QString TCommandLine::VersionText() const
{
    return QStringLiteral("%1 (Quorla) %2\nCopyright (C) %3\n").arg(program_, Version(), QStringLiteral(QUORLA_COPYRIGHT));
}

int TCommandLine::Answer() const
{
    switch (result_) {
    case Result::Help:
        print(stdout, HelpText());
        return ExitSuccess;
    case Result::Version:
        print(stdout, VersionText());
        return ExitSuccess;
    case Result::UsageError:
        return UsageFailure(error_);
    case Result::Run:
        break;
    }
    return ExitSuccess;
}

int TCommandLine::UsageFailure(const QString& message) const
{
    print(stderr, QStringLiteral("%1: %2\nTry '%1 --help' for more information.\n").arg(program_, message));
    return ExitUsage;
}

int TCommandLine::Failure(const QString& message) const
{
    print(stderr, QStringLiteral("%1: %2\n").arg(program_, OneLine(message)));
    return ExitFailure;
}

void TCommandLine::Say(const QString& text)
{
    print(stdout, text + QLatin1Char('\n'));
}

QString TCommandLine::OneLine(QString message)
{
    return message.replace(QLatin1String("\r\r"), QLatin1String(": ")).replace(QLatin1Char('\r'), QLatin1Char(' '));
}
