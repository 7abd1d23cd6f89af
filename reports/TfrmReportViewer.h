#pragma once

#include "TServices.h"

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
// A year's report runs to tens of thousands of lines: the viewer lays out
// only the lines it shows (a plain-text editor), and takes in the first
// FirstLines at once and the rest in parts of PartLines from the event loop,
// so that the window paints, scrolls and prints (always the whole report)
// while the rest comes in.
class TfrmReportViewer : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmReportViewer(TServices services, QWidget* parent = nullptr);
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
    // Lines taken in at once (more than any screen shows), then per part.
    static constexpr int FirstLines = 1000;
    static constexpr int PartLines = 4000;
    // The least margin of a printed page.
    static constexpr double MinimumMarginMm = 10.0;

private:
    // Appends the next part of lines_, and asks for the one after it.
    void appendPart(int count);

    TServices services_;
    std::unique_ptr<Ui::TfrmReportViewer> ui;
    QStringList lines_;
    // Lines of lines_ shown; each SetLines starts a new generation, so that
    // a part asked for by an earlier report appends nothing.
    qsizetype shown_ = 0;
    quint64 generation_ = 0;
};
