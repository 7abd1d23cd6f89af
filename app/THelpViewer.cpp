#include "THelpViewer.h"

#include <QFile>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

THelpViewer::THelpViewer(QWidget* parent)
    : QDialog(parent), browser_(new QTextBrowser(this))
{
    setObjectName(QStringLiteral("frmHelp"));
    setWindowTitle(QStringLiteral("Quorla Help"));
    browser_->setObjectName(QStringLiteral("txtHelp"));
    browser_->setOpenExternalLinks(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser_);
    resize(640, 560);
}

bool THelpViewer::ShowTopic(const QString& document, const QString& topic)
{
    QUrl url = document.startsWith(QLatin1String("qrc:")) ? QUrl(document) : QUrl::fromLocalFile(document);
    const QString local = url.scheme() == QLatin1String("qrc") ? QLatin1Char(':') + url.path() : url.toLocalFile();
    if (!QFile::exists(local))
        return false;
    url.setFragment(topic);
    browser_->setSource(url);
    // setSource keeps the position when only the fragment changes; make sure
    // the topic is at the top.
    browser_->scrollToAnchor(topic);
    show();
    raise();
    activateWindow();
    return true;
}
