#include "TProgramIcon.h"

#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

// The icon lives in a static library; this keeps it linked in and registered
// for callers that come before the main window. Registering twice is harmless.
// Q_INIT_RESOURCE may not stand inside a namespace.
static void initResources()
{
    Q_INIT_RESOURCE(quorla);
}

QIcon TProgramIcon::Icon()
{
    return Render(QString::fromLatin1(Resource));
}

QIcon TProgramIcon::Render(const QString& resource)
{
    initResources();
    QSvgRenderer renderer{resource};
    QIcon icon;
    if (!renderer.isValid())
        return icon;
    // Each size drawn on its own, so that none is a blurred scaling of another.
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}
