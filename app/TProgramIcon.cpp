#include "TProgramIcon.h"

#include <QApplication>
#include <QHash>
#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QStyle>
#include <QStyleOption>
#include <QSvgRenderer>

#include <algorithm>
#include <memory>

// The icon lives in a static library; this keeps it linked in and registered
// for callers that come before the main window. Registering twice is harmless.
// Q_INIT_RESOURCE may not stand inside a namespace.
static void initResources()
{
    Q_INIT_RESOURCE(quorla);
}

namespace {

// The sizes an icon says it has; any other size asked for is drawn as well.
constexpr int Sizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

// Draws the drawing at a size when that size is first asked for, and keeps
// it: a start-up shows each command's icon at one or two sizes, and drawing
// all eight of every command beforehand took a fifth of it. Each size is
// drawn on its own, so that none is a blurred scaling of another.
class TDrawnIconEngine : public QIconEngine
{
public:
    explicit TDrawnIconEngine(std::shared_ptr<QSvgRenderer> renderer)
        : renderer_(std::move(renderer))
    {
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        const int side = std::min(size.width(), size.height());
        if (side <= 0)
            return {};
        const quint64 key = (quint64(side) << 8) | (quint64(mode) << 1) | quint64(state);
        const auto kept = drawn_.constFind(key);
        if (kept != drawn_.constEnd())
            return *kept;
        QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer_->render(&painter);
        painter.end();
        QPixmap drawn = QPixmap::fromImage(image);
        // Disabled and selected looks as the style makes them of any icon.
        if (mode != QIcon::Normal && qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
            QStyleOption option;
            option.palette = QApplication::palette();
            drawn = QApplication::style()->generatedIconPixmap(mode, drawn, &option);
        }
        drawn_.insert(key, drawn);
        return drawn;
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        painter->drawPixmap(rect, pixmap(rect.size(), mode, state));
    }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override
    {
        const int side = std::min(size.width(), size.height());
        return {side, side};
    }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        QList<QSize> sizes;
        for (const int side : Sizes)
            sizes << QSize(side, side);
        return sizes;
    }

    QString key() const override { return QStringLiteral("TDrawnIconEngine"); }

    QIconEngine* clone() const override { return new TDrawnIconEngine(*this); }

private:
    std::shared_ptr<QSvgRenderer> renderer_;
    QHash<quint64, QPixmap> drawn_;
};

} // namespace

QIcon TProgramIcon::Icon()
{
    return Render(QString::fromLatin1(Resource));
}

QIcon TProgramIcon::Render(const QString& resource)
{
    initResources();
    auto renderer = std::make_shared<QSvgRenderer>(resource);
    if (!renderer->isValid())
        return {};
    return QIcon(new TDrawnIconEngine(std::move(renderer)));
}
