// Printing the report: through the print dialog to a PDF file, read back with
// pdftotext, with the tab columns at regular stops; a cancelled dialog prints
// nothing and leaves the viewer open.

#include "QuorlaTest.h"
#include "TScriptedServices.h"
#include "TfrmReportViewer.h"

#include <QAction>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>

class tst_ReportViewer : public QObject
{
    Q_OBJECT

private slots:
    void print_data()
    {
        QTest::addColumn<bool>("confirm");
        QTest::newRow("printed to PDF") << true;
        QTest::newRow("cancelled") << false;
    }
    void print()
    {
        QFETCH(bool, confirm);
        const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
        if (confirm && pdftotext.isEmpty())
            QSKIP("pdftotext is not installed");
        const QString pdf = TestEnvironment::freshFolder(QTest::currentDataTag()) + QStringLiteral("/report.pdf");
        const QStringList lines = {"Quorla Report From Mon 04 January 2021 To Mon 04 January 2021", "", "All Categories",
                                   "All Users", "", "January 2021", "", "\tMon 04\t09:30\tPlan\t", "\t\t\tAnn, Bob", "",
                                   "\t  \tDay\tAll day long, the whole day long\t", "\t\t\t"};
        TScriptedServices services;
        services.expectPrinter(confirm ? pdf : QString());
        TfrmReportViewer viewer;
        bool open = false;
        QTimer::singleShot(0, &viewer, [&] {
            viewer.findChild<QAction*>("Print1")->trigger();
            open = viewer.isVisible();
            viewer.close();
        });
        QCOMPARE(viewer.Execute(lines), 1);
        QVERIFY(open);
        QCOMPARE(QFile::exists(pdf), confirm);
        if (!confirm)
            return;

        // Each printed word back at its column (the font is fixed-pitch), so that
        // the lines can be compared character for character.
        QProcess text;
        text.start(pdftotext, {QStringLiteral("-bbox"), pdf, QStringLiteral("-")});
        QVERIFY(text.waitForFinished());
        const QRegularExpression word(R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)"[^>]*>([^<]*)</word>)re");
        QStringList printed;
        double left = -1, pitch = 0, y = -1;
        for (const auto& m : word.globalMatch(QString::fromUtf8(text.readAllStandardOutput()))) {
            if (left < 0) {
                left = m.captured(1).toDouble();
                pitch = (m.captured(3).toDouble() - left) / m.captured(4).size();
            }
            if (m.captured(2).toDouble() != y)
                printed << QString();
            y = m.captured(2).toDouble();
            const int column = qRound((m.captured(1).toDouble() - left) / pitch);
            printed.last() = printed.last().leftJustified(column, QLatin1Char(' ')) + m.captured(4);
        }
        const QStringList expected = {lines[0], "All Categories", "All Users", "January 2021",
                                      "        Mon 04  09:30   Plan", QString(24, ' ') + "Ann, Bob",
                                      QString(16, ' ') + "Day     All day long, the whole day long"};
        QCOMPARE(printed, expected);
    }

    // A report longer than the first part: every line arrives, in order and
    // once, and a report set again meanwhile is not mixed with the earlier one.
    void longReportComesInWhole()
    {
        QStringList earlier, lines;
        for (int i = 0; i < 2 * TfrmReportViewer::PartLines; ++i) {
            earlier << QStringLiteral("old %1").arg(i);
            lines << QStringLiteral("\tline %1\t").arg(i);
        }
        TfrmReportViewer viewer;
        viewer.SetLines(earlier);
        viewer.SetLines(lines);
        auto* text = viewer.findChild<QPlainTextEdit*>("memReport");
        QVERIFY(text->blockCount() < lines.size());
        QTRY_COMPARE(text->blockCount(), lines.size());
        QCOMPARE(text->toPlainText(), lines.join('\n'));
    }
};

QUORLA_TEST_GUI_MAIN(tst_ReportViewer)
#include "tst_reportviewer.moc"
