// The command line every Quorla executable shares: how arguments become
// options, operands and pass-through options, and the GNU-style refusals.

#include "QuorlaTest.h"
#include "TCommandLine.h"

#include <QCoreApplication>
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
        const int run = int(Result::Run), help = int(Result::Help), version = int(Result::Version),
                  wrong = int(Result::UsageError);
        const QStringList none;

        QTest::newRow("value after =") << QStringList{"--database=/srv/q"} << run << QStringList{"database=/srv/q"}
                                       << none << none << "";
        QTest::newRow("value as next argument, even one with a dash")
            << QStringList{"--database", "-x"} << run << QStringList{"database=-x"} << none << none << "";
        QTest::newRow("empty value") << QStringList{"--database="} << run << QStringList{"database="} << none << none
                                     << "";
        QTest::newRow("unique abbreviation") << QStringList{"--dat", "a"} << run << QStringList{"database=a"} << none
                                             << none << "";
        QTest::newRow("exact name beats a longer one") << QStringList{"--user", "ann"} << run
                                                       << QStringList{"user=ann"} << none << none << "";
        QTest::newRow("short with attached and separate value")
            << QStringList{"-da", "-d", "b"} << run << QStringList{"database=b"} << none << none << "";
        QTest::newRow("operands around options, '-' and after '--'")
            << QStringList{"-", "--debug", "--", "--user"} << run << QStringList{"debug="}
            << QStringList{"-", "--user"} << none << "";
        QTest::newRow("toolkit options kept in order")
            << QStringList{"-style", "fusion", "x", "--reverse", "--style=plain"} << run << none << QStringList{"x"}
            << QStringList{"-style", "fusion", "--reverse", "--style=plain"} << "";

        QTest::newRow("help wins over what follows") << QStringList{"--help", "--bogus", "a", "b", "c"} << help
                                                     << QStringList{"help="} << none << none << "";
        QTest::newRow("grouped short options") << QStringList{"-Vh"} << version << QStringList{"version="} << none
                                               << none << "";

        QTest::newRow("an error before help wins") << QStringList{"--bogus", "--help"} << wrong << none << none
                                                   << none << "unrecognized option '--bogus'";
        QTest::newRow("unknown short") << QStringList{"-q"} << wrong << none << none << none
                                       << "invalid option -- 'q'";
        QTest::newRow("toolkit option is never abbreviated")
            << QStringList{"-sty", "x"} << wrong << none << none << none << "invalid option -- 's'";
        QTest::newRow("ambiguous") << QStringList{"--d"} << wrong << none << none << none
                                   << "option '--d' is ambiguous; possibilities: '--database' '--debug'";
        QTest::newRow("flag given a value") << QStringList{"--debug=1"} << wrong << none << none << none
                                            << "option '--debug' doesn't allow an argument";
        QTest::newRow("value missing") << QStringList{"--database"} << wrong << none << none << none
                                       << "option '--database' requires an argument";
        QTest::newRow("short value missing") << QStringList{"-d"} << wrong << none << none << none
                                             << "option requires an argument -- 'd'";
        QTest::newRow("toolkit value missing") << QStringList{"-style"} << wrong << none << none << none
                                               << "option '-style' requires an argument";
        QTest::newRow("extra operand") << QStringList{"a", "b", "c"} << wrong << none << none << none
                                       << "extra operand 'c'";
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
