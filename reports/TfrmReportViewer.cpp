#include "TfrmReportViewer.h"

#include "TServices.h"
#include "ui_TfrmReportViewer.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainter>
#include <QPrinter>
#include <QSize>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>

TfrmReportViewer::TfrmReportViewer(TServices services, QWidget* parent)
    : QDialog(parent), services_(services), ui(std::make_unique<Ui::TfrmReportViewer>())
{
    ui->setupUi(this);
    setWindowFlag(Qt::WindowMaximizeButtonHint);
    setWindowFlag(Qt::WindowMinimizeButtonHint);
    QFont small = font();
    small.setPixelSize(11);
    setFont(small);
    // Read-only: nothing to undo, and no copy of each part on an undo stack.
    ui->memReport->setUndoRedoEnabled(false);
    connect(ui->btnPrint, &QAction::triggered, this, &TfrmReportViewer::btnPrintClick);
    connect(ui->Print1, &QAction::triggered, this, &TfrmReportViewer::btnPrintClick);
}

TfrmReportViewer::~TfrmReportViewer() = default;

int TfrmReportViewer::Execute(const QStringList& lines)
{
    SetLines(lines);
    const QSize screen = services_.desktop().screenSize();
    move((screen.width() - width()) / 2, (screen.height() - height()) / 2);
    exec();
    return 1;
}

void TfrmReportViewer::SetLines(const QStringList& lines)
{
    lines_ = lines;
    shown_ = 0;
    ++generation_;
    ui->memReport->clear();
    appendPart(FirstLines);
}

void TfrmReportViewer::appendPart(int count)
{
    const qsizetype take = std::min<qsizetype>(count, lines_.size() - shown_);
    if (take <= 0)
        return;
    const QString text = QStringList(lines_.mid(shown_, take)).join(QLatin1Char('\n'));
    if (shown_ == 0) {
        ui->memReport->setPlainText(text);
    } else {
        // At the end, away from the user's cursor and selection.
        QTextCursor end(ui->memReport->document());
        end.movePosition(QTextCursor::End);
        end.insertText(QLatin1Char('\n') + text);
    }
    shown_ += take;
    if (shown_ < lines_.size()) {
        QTimer::singleShot(0, this, [this, generation = generation_] {
            if (generation == generation_)
                appendPart(PartLines);
        });
    }
}

void TfrmReportViewer::btnPrintClick()
{
    QPrinter printer;
    if (!services_.desktop().choosePrinter(printer))
        return;
    if (!PrintLines(printer, lines_))
        services_.person().showApplicationError(QStringLiteral("The report could not be printed."));
}

QString TfrmReportViewer::ExpandTabs(const QString& line, int stop)
{
    QString expanded;
    expanded.reserve(line.size() + 4 * stop);
    for (const QChar c : line) {
        if (c == QLatin1Char('\t'))
            expanded += QString(stop - expanded.size() % stop, QLatin1Char(' '));
        else
            expanded += c;
    }
    return expanded;
}

bool TfrmReportViewer::PrintLines(QPrinter& printer, const QStringList& lines)
{
    printer.setDocName(QString());
    // The printer's own margins, and never less than 10 mm: no line runs to
    // the edge of the paper.
    const QMarginsF own = printer.pageLayout().margins(QPageLayout::Millimeter);
    printer.setPageMargins(QMarginsF(std::max(own.left(), MinimumMarginMm), std::max(own.top(), MinimumMarginMm),
                                     std::max(own.right(), MinimumMarginMm), std::max(own.bottom(), MinimumMarginMm)),
                           QPageLayout::Millimeter);
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(10);
    painter.setFont(font);
    const QFontMetricsF metrics(font, &printer);
    const QRectF page = printer.pageLayout().paintRectPixels(printer.resolution());
    const double lineHeight = metrics.lineSpacing();
    const int columns = qMax(1, int(page.width() / metrics.horizontalAdvance(QLatin1Char('M'))));
    double y = 0;
    for (const QString& line : lines) {
        const QString expanded = ExpandTabs(line);
        // An empty line still takes its height; a long one continues below.
        for (qsizetype from = 0; from == 0 || from < expanded.size(); from += columns) {
            if (y + lineHeight > page.height() && y > 0) {
                if (!printer.newPage())
                    return false;
                y = 0;
            }
            painter.drawText(QPointF(0, y + metrics.ascent()), expanded.mid(from, columns));
            y += lineHeight;
        }
    }
    return painter.end() && printer.printerState() != QPrinter::Error;
}
