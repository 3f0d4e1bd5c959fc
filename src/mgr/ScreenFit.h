#pragma once
// Keeping the manager's windows usable on small screens and at large scale factors: a page or
// form body that scrolls when the screen is smaller than the window's natural size, the size a
// window gets on its screen, and the place of a window's frame clamped onto a screen.
//
// Positions here are the frame's (title bar included). Before the window manager has framed a
// window its frame is not known; an estimate from the style stands in for it until then.

#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QScrollArea>
#include <QSize>

class QScreen;
class QWidget;

// A scroll area around a page or form body that asks for the body's whole natural size (so a
// window on a large screen shows everything without a scroll bar) but can shrink to little
// height, scrolling the body then. Its width never goes below the body's minimum plus the
// vertical scroll bar, so only vertical scrolling is needed.
class TScrollingBody : public QScrollArea {
public:
    explicit TScrollingBody(QWidget* parent);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    // How much less height than the body's natural one to ask for (0: the whole).
    void SetHeightShortfall(int pixels);

private:
    int shortfall_ = 0;
};

// Fills page with a TScrollingBody and returns the body widget that takes the page's contents.
QWidget* AddScrollingBody(QWidget* page);

// The screen whose area holds point, or the one nearest to it.
QScreen* ScreenNear(const QPoint& point);

// The frame's margins of window: measured once the window manager has framed it, estimated
// before.
QMargins FrameMargins(const QWidget* window);

// The client size for a window of natural client size natural with frame margins frame on a
// screen whose usable area is area and whose device pixel ratio is pixelRatio: the natural size,
// shrunk where the frame would not fit.
QSize FittedSize(const QSize& natural, const QMargins& frame, const QRect& area, qreal pixelRatio = 1.0);

// Where a frame rectangle goes on a screen with usable area area: moved as little as needed
// into the area, its top-left corner (with the title bar) inside it where the frame is larger.
QPoint ClampedPosition(const QRect& frame, const QRect& area);

// Gives window (a top-level widget) its natural size shrunk to fit the screen near framePos,
// and puts its frame there, clamped onto that screen. Returns the frame's position.
QPoint FitOnScreen(QWidget* window, const QSize& natural, const QPoint& framePos);

// Puts window's frame corner at framePos, also while the platform window exists but has not
// been framed yet.
void MoveFrameTo(QWidget* window, const QPoint& framePos);

// Keeps a fixed-size dialog (its layout fixes its size at the natural one) on the screen: each
// time it is shown, its scrolling body gives up as much height as the screen lacks, and the
// dialog goes into the middle of the screen.
class TScreenFitting : public QObject {
public:
    explicit TScreenFitting(QWidget* window);
    bool eventFilter(QObject* watched, QEvent* event) override;
};
