// Printing the report: through the print dialog to a PDF file, read back with
// pdftotext; a cancelled dialog prints nothing and leaves the viewer open.

#include "QuorlaTest.h"
#include "TScriptedServices.h"
#include "TfrmReportViewer.h"

#include <QAction>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
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
        TfrmReportViewer viewer(TScriptedServices::ofTest());
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

        // Every line's words reach the page.
        QProcess text;
        text.start(pdftotext, {pdf, QStringLiteral("-")});
        QVERIFY(text.waitForFinished());
        const QString printed = QString::fromUtf8(text.readAllStandardOutput()).simplified();
        QVERIFY2(printed.contains(lines[0]) && printed.contains(QStringLiteral("Mon 04 09:30 Plan Ann, Bob"))
                     && printed.contains(QStringLiteral("Day All day long, the whole day long")),
                 qPrintable(printed));
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
        TfrmReportViewer viewer(TScriptedServices::ofTest());
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
