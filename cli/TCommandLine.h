#pragma once

#include <QChar>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// The command line of every Quorla executable, in the usual GNU form, on Qt
// Core alone so that the command-line tools can use it without widgets and
// without a display.
//
//   TCommandLine line(QStringLiteral("quorla_migrate"), QStringLiteral("FROM TO"),
//                     QStringLiteral("Copies a Quorla database from FROM to TO."));
//   line.AddOption(QStringLiteral("quiet"), QString(), QStringLiteral("show no progress"));
//   line.SetOperands(2, 2);
//   if (line.Parse(argc, argv) != TCommandLine::Result::Run)
//       return line.Answer();
//   ... line.IsSet("quiet"), line.Operands() ...
//
// What every program gets: -h/--help (usage on standard output, status 0) and
// -V/--version (name, package, version and copyright, status 0). A long option
// may be abbreviated to any prefix that names it alone, and takes its value as
// "--name=VALUE" or as the next argument; short options may be grouped ("-hV").
// "--" ends the options. Operands and options may come in any order. Anything
// else that begins with "-" is refused: the error names it, "Try 'PROGRAM
// --help' for more information." follows on standard error, and the status is
// 2. A single "-" is an operand (by custom, standard input or output).
class TCommandLine
{
public:
    enum class Result { Run, Help, Version, UsageError };

    // Exit statuses shared by every Quorla executable.
    static constexpr int ExitSuccess = 0;
    static constexpr int ExitFailure = 1;
    static constexpr int ExitUsage = 2;

    // `usage` is what follows the program's name on the "Usage:" line, such as
    // "[OPTION]..." or "[OPTION]... FROM TO"; `summary` the lines after it.
    TCommandLine(QString program, QString usage, QString summary);

    // An option "--name" (and "-c" when `shortName` is given). With a
    // `valueName` it takes a value, shown as "--name=VALUE" in the help.
    void AddOption(const QString& name, const QString& valueName, const QString& help, QChar shortName = QChar());
    // Text shown at the end of the help, after the options (exit status, files).
    void SetEpilogue(const QString& text) { epilogue_ = text; }
    // How many operands the program takes; none unless set.
    void SetOperands(int minimum, int maximum);
    // An option of someone else (the GUI toolkit's own "-style", "-session"),
    // recognised with one dash or two and left in PassedThrough(), in order and
    // with its value, instead of being refused. Never abbreviated.
    void AddPassThrough(const QString& name, bool takesValue);

    Result Parse(int argc, const char* const* argv);
    // The arguments without the program's name.
    Result Parse(const QStringList& arguments);

    // Prints what the last Parse asked for: the help or the version on
    // standard output, the error on standard error. Answers the status to end
    // with: 0 for help and version, 2 for a usage error.
    int Answer() const;
    // Prints "PROGRAM: message" and the hint to try --help on standard error;
    // answers 2. For the checks a program makes after Parse.
    int UsageFailure(const QString& message) const;
    // Prints "PROGRAM: message" on standard error, as one line (OneLine);
    // answers 1.
    int Failure(const QString& message) const;
    // A message written for a message box on one line: the paragraph break
    // between what failed and why becomes ": ", any other line break a space.
    static QString OneLine(QString message);
    // Prints `text` and a line break on standard output at once: a tool's
    // progress, seen as it happens even when the output goes to a file.
    static void Say(const QString& text);

    bool IsSet(const QString& name) const { return values_.contains(name); }
    // The option's last value; empty when it is not set.
    QString Value(const QString& name) const { return values_.value(name); }
    const QStringList& Operands() const { return operands_; }
    // The pass-through options as given, ready to go after the program's name
    // in an argv of the toolkit.
    const QStringList& PassedThrough() const { return passedThrough_; }

    QString HelpText() const;
    QString VersionText() const;
    // The error of the last Parse, without the hint line.
    const QString& ErrorText() const { return error_; }
    const QString& Program() const { return program_; }

    // The version of the Quorla package, such as "0.1".
    static QString Version();

private:
    struct Option {
        QString name;
        QString valueName;
        QString help;
        QChar shortName;
    };

    const Option* findLong(const QString& given);
    const Option* findShort(QChar c) const;
    bool takePassThrough(const QStringList& arguments, qsizetype& index);
    Result fail(const QString& message);
    void record(const Option& option, const QString& value);

    QString program_;
    QString usage_;
    QString summary_;
    QString epilogue_;
    QList<Option> options_;
    QMap<QString, bool> passThrough_;
    int minOperands_ = 0;
    int maxOperands_ = 0;

    Result result_ = Result::Run;
    QString error_;
    QMap<QString, QString> values_;
    QStringList operands_;
    QStringList passedThrough_;
};
