// The command line every Quorla executable shares: how arguments become
// options, operands and pass-through options, and the GNU-style refusals.

#include "QuorlaTest.h"
#include "TCommandLine.h"

#include <QRegularExpression>

using Result = TCommandLine::Result;

namespace {

// A program with a value option, a flag sharing its first letter, an option
// whose name begins with another's, up to two operands and one toolkit option.
TCommandLine makeLine()
{
    TCommandLine line(QStringLiteral("prog"), QStringLiteral("[OPTION]... [FROM [TO]]"), QStringLiteral("Tests."));
    line.AddOption(QStringLiteral("database"), QStringLiteral("FOLDER"), QStringLiteral("the database"), QLatin1Char('d'));
    line.AddOption(QStringLiteral("debug"), QString(), QStringLiteral("say more"));
    line.AddOption(QStringLiteral("user"), QStringLiteral("NAME"), QStringLiteral("the user"));
    line.AddOption(QStringLiteral("username"), QString(), QStringLiteral("print the user name"));
    line.SetOperands(0, 2);
    line.AddPassThrough(QStringLiteral("style"), true);
    line.AddPassThrough(QStringLiteral("reverse"), false);
    return line;
}

} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void parses_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("result");
        // "name=value" for each option set; the error text for a refusal.
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QStringList>("operands");
        QTest::addColumn<QStringList>("passedThrough");
        QTest::addColumn<QString>("error");
        // A parse that runs, asks for help or version: what it set, took and passed on.
        const auto ran = [](const char* name, const QStringList& arguments, Result result, const QStringList& options,
                            const QStringList& operands = {}, const QStringList& passedThrough = {}) {
            QTest::newRow(name) << arguments << int(result) << options << operands << passedThrough << QString();
        };
        const auto refused = [](const char* name, const QStringList& arguments, const QString& error) {
            QTest::newRow(name) << arguments << int(Result::UsageError) << QStringList() << QStringList()
                                << QStringList() << error;
        };

        ran("value after =", {"--database=/srv/q"}, Result::Run, {"database=/srv/q"});
        ran("value as next argument, even one with a dash", {"--database", "-x"}, Result::Run, {"database=-x"});
        ran("empty value", {"--database="}, Result::Run, {"database="});
        ran("unique abbreviation", {"--dat", "a"}, Result::Run, {"database=a"});
        ran("exact name beats a longer one", {"--user", "ann"}, Result::Run, {"user=ann"});
        ran("short with attached and separate value", {"-da", "-d", "b"}, Result::Run, {"database=b"});
        ran("operands around options, '-' and after '--'", {"-", "--debug", "--", "--user"}, Result::Run, {"debug="},
            {"-", "--user"});
        ran("toolkit options kept in order", {"-style", "fusion", "x", "--reverse", "--style=plain"}, Result::Run, {},
            {"x"}, {"-style", "fusion", "--reverse", "--style=plain"});
        ran("help wins over what follows", {"--help", "--bogus", "a", "b", "c"}, Result::Help, {"help="});
        ran("grouped short options", {"-Vh"}, Result::Version, {"version="});

        refused("an error before help wins", {"--bogus", "--help"}, "unrecognized option '--bogus'");
        refused("unknown short", {"-q"}, "invalid option -- 'q'");
        refused("toolkit option is never abbreviated", {"-sty", "x"}, "invalid option -- 's'");
        refused("ambiguous", {"--d"}, "option '--d' is ambiguous; possibilities: '--database' '--debug'");
        refused("flag given a value", {"--debug=1"}, "option '--debug' doesn't allow an argument");
        refused("value missing", {"--database"}, "option '--database' requires an argument");
        refused("short value missing", {"-d"}, "option requires an argument -- 'd'");
        refused("toolkit value missing", {"-style"}, "option '-style' requires an argument");
        refused("extra operand", {"a", "b", "c"}, "extra operand 'c'");
    }

    void parses()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, result);
        QFETCH(QStringList, options);

        TCommandLine line = makeLine();
        QCOMPARE(int(line.Parse(arguments)), result);
        QTEST(line.ErrorText(), "error");
        if (result == int(Result::UsageError))
            return;
        for (const QString& name : QStringList{"database", "debug", "user", "username", "help", "version"}) {
            const QString expected = options.filter(QRegularExpression(QLatin1Char('^') + name + QLatin1Char('='))).value(0);
            QCOMPARE(line.IsSet(name), !expected.isEmpty());
            QCOMPARE(line.Value(name), expected.section(QLatin1Char('='), 1));
        }
        QTEST(line.Operands(), "operands");
        QTEST(line.PassedThrough(), "passedThrough");
    }

    void missingOperands()
    {
        TCommandLine line = makeLine();
        line.SetOperands(2, 2);
        QCOMPARE(line.Parse(QStringList{}), Result::UsageError);
        QCOMPARE(line.ErrorText(), QStringLiteral("missing operand"));
        QCOMPARE(line.Parse(QStringList{"from"}), Result::UsageError);
        QCOMPARE(line.ErrorText(), QStringLiteral("missing operand after 'from'"));
        // A parse starts afresh.
        QCOMPARE(line.Parse(QStringList{"from", "to"}), Result::Run);
        QCOMPARE(line.Operands(), (QStringList{"from", "to"}));
    }

    // A failure made for a message box keeps its separators on one line.
    void failureOnOneLine()
    {
        QCOMPARE(TCommandLine::OneLine(QStringLiteral("Unable to change the user's server role\r\rrole \"a\" exists\rnow")),
                 QStringLiteral("Unable to change the user's server role: role \"a\" exists now"));
    }

    // Every option is listed with its value, help and version last; long names
    // push their help text to the next line instead of into it.
    void helpText()
    {
        TCommandLine line(QStringLiteral("prog"), QStringLiteral("[OPTION]..."), QStringLiteral("Does things."));
        line.AddOption(QStringLiteral("out"), QStringLiteral("FILE"), QStringLiteral("write to FILE\nreplacing it"),
                       QLatin1Char('o'));
        line.AddOption(QStringLiteral("database"), QStringLiteral("FOLDER-or-URI"), QStringLiteral("the database"));
        line.SetEpilogue(QStringLiteral("Exit status: 0."));
        QCOMPARE(line.HelpText(), QStringLiteral("Usage: prog [OPTION]...\n"
                                                 "Does things.\n"
                                                 "\n"
                                                 "Options:\n"
                                                 "  -o, --out=FILE              write to FILE\n"
                                                 "                              replacing it\n"
                                                 "      --database=FOLDER-or-URI\n"
                                                 "                              the database\n"
                                                 "  -h, --help                  display this help and exit\n"
                                                 "  -V, --version               output version information and exit\n"
                                                 "\n"
                                                 "Exit status: 0.\n"));
        QVERIFY(line.VersionText().startsWith(QStringLiteral("prog (Quorla) ") + TCommandLine::Version() + '\n'));
    }
};

QUORLA_TEST_CORE_MAIN(TestCommandLine)
#include "tst_commandline.moc"
