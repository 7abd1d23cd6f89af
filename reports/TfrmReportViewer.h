#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include <memory>

class QPrinter;

namespace Ui {
class TfrmReportViewer;
}

// Shows a report's lines read-only, unwrapped and with their tabs, and prints
// them on request. Created once and reused: each report replaces the text.
class TfrmReportViewer : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmReportViewer(QWidget* parent = nullptr);
    ~TfrmReportViewer() override;

    // Replaces the text with `lines`, one paragraph each, and shows the window
    // modally until the user closes it. Returns 1 (closed).
    int Execute(const QStringList& lines);

    // Replaces the text without showing the window.
    void SetLines(const QStringList& lines);

    // Asks for a printer through the services' print dialog and prints the
    // whole text on it; nothing happens when the user cancels. Errors of the
    // printer are reported in an error box.
    void btnPrintClick();

    // Prints `lines` on `printer` with an empty document title: a fixed-pitch
    // font, each tab expanded to the next stop of TabStop columns, lines longer
    // than the printable width continued on the next line, a new page when one
    // is full, inside the printer's margins but at least MinimumMarginMm from
    // every edge. No headers, footers or page numbers of its own. False
    // when the printer could not be started or reported an error.
    static bool PrintLines(QPrinter& printer, const QStringList& lines);

    // `line` with each tab replaced by the spaces up to the next multiple of
    // `stop` columns.
    static QString ExpandTabs(const QString& line, int stop = TabStop);

    static constexpr int TabStop = 8;
    // The least margin of a printed page.
    static constexpr double MinimumMarginMm = 10.0;

private:
    std::unique_ptr<Ui::TfrmReportViewer> ui;
};
