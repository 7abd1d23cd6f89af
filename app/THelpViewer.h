#pragma once

#include <QDialog>
#include <QString>

class QTextBrowser;

// The window that shows the program's user guide: an HTML document compiled
// into the program, opened at a named topic (an anchor of the document).
// One window serves every request; asking again brings it to the front at the
// new topic. It is not modal, so the user can keep it open beside the calendar.
class THelpViewer : public QDialog
{
    Q_OBJECT

public:
    explicit THelpViewer(QWidget* parent = nullptr);

    // Shows `document` (a file path or a "qrc:" URL) at `topic`. False when the
    // document cannot be read; the window then stays as it was.
    bool ShowTopic(const QString& document, const QString& topic);

    QTextBrowser* Browser() const { return browser_; }

private:
    QTextBrowser* browser_;
};
