#pragma once

#include "TColorRef.h"
#include "TViewEvents.h"

#include <QFrame>
#include <QString>

class QMenu;

// The panel the views are built from: a plain surface with an optional border,
// two one-pixel bevels inside it, a background colour and an optional caption.
//
// The client area is the panel inside its border (contentsRect()); the bevels
// are painted inside the client area, so children placed at its origin cover
// them, and InnerRect() is the part the bevels leave free.
//
// A double-click on the panel's own surface raises OnDblClick; the panel never
// passes a double-click on to its parent, so double-clicks on a child panel do
// not reach the panel around it. A context-menu request shows PopupMenu when
// one is set, and otherwise goes on to the parent.
class TPanel : public QFrame
{
    Q_OBJECT

public:
    enum class TBevelCut { bvNone, bvLowered, bvRaised, bvSpace };
    enum class TBorderStyle { bsNone, bsSingle };

    // Raised outer bevel, no inner bevel, no border, three-dimensional look,
    // the palette's button colour, no caption.
    explicit TPanel(QWidget* parent = nullptr);

    TNotifyEvent OnDblClick;

    TBevelCut BevelOuter() const { return bevelOuter_; }
    void setBevelOuter(TBevelCut cut);
    TBevelCut BevelInner() const { return bevelInner_; }
    void setBevelInner(TBevelCut cut);

    // bsSingle draws a border around the client area: a two-pixel sunken edge
    // with the three-dimensional look, a one-pixel line without it.
    TBorderStyle BorderStyle() const { return borderStyle_; }
    void setBorderStyle(TBorderStyle style);
    bool Ctl3D() const { return ctl3D_; }
    void setCtl3D(bool on);

    TColor Color() const { return color_; }
    void setColor(TColor color);

    // Caption drawn centred vertically in InnerRect(), placed by Alignment:
    // Qt::AlignLeft, Qt::AlignRight or Qt::AlignHCenter (anything else counts
    // as left).
    QString Caption() const { return caption_; }
    void setCaption(const QString& caption);
    Qt::Alignment Alignment() const { return alignment_; }
    void setAlignment(Qt::Alignment alignment);

    // Not owned; shown on a context-menu request over the panel.
    QMenu* PopupMenu() const { return popupMenu_; }
    void setPopupMenu(QMenu* menu) { popupMenu_ = menu; }

    // The client area less one pixel for each bevel that is not bvNone.
    QRect InnerRect() const;

    // The three horizontal alignments as the panel keeps them.
    static Qt::Alignment normalised(Qt::Alignment alignment);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    // The client area or InnerRect() changed: lay children out again.
    virtual void clientChanged() {}

private:
    void updateFrame();

    TBevelCut bevelOuter_ = TBevelCut::bvRaised;
    TBevelCut bevelInner_ = TBevelCut::bvNone;
    TBorderStyle borderStyle_ = TBorderStyle::bsNone;
    bool ctl3D_ = true;
    TColor color_ = 0;
    QString caption_;
    Qt::Alignment alignment_ = Qt::AlignHCenter;
    QMenu* popupMenu_ = nullptr;
};
