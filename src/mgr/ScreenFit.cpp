#include "mgr/ScreenFit.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <climits>
#include <cmath>

namespace {

// How far a point lies outside a rectangle (0 inside), in Manhattan distance.
int DistanceTo(const QRect& area, const QPoint& point) {
    const int dx = std::max({area.left() - point.x(), 0, point.x() - area.right()});
    const int dy = std::max({area.top() - point.y(), 0, point.y() - area.bottom()});
    return dx + dy;
}

// Before the window manager has framed a window: a title bar as the style draws one, and thin
// borders.
constexpr int kBorderEstimate = 4;

} // namespace

TScrollingBody::TScrollingBody(QWidget* parent) : QScrollArea(parent) {
    setObjectName(QStringLiteral("ScrollingBody"));
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    // The page's own background shows through, as without the scroll area.
    viewport()->setAutoFillBackground(false);
}

QSize TScrollingBody::sizeHint() const {
    if (!widget())
        return QScrollArea::sizeHint();
    QSize body = widget()->sizeHint().expandedTo(widget()->minimumSizeHint());
    body.setHeight(std::max(body.height() - shortfall_, minimumSizeHint().height()));
    return body.grownBy(contentsMargins());
}

void TScrollingBody::SetHeightShortfall(int pixels) {
    if (pixels == shortfall_)
        return;
    shortfall_ = pixels;
    updateGeometry();
}

QSize TScrollingBody::minimumSizeHint() const {
    if (!widget())
        return QScrollArea::minimumSizeHint();
    // The scroll bar's room is always kept, so that a window does not change its width when
    // its page starts or stops scrolling.
    const int width = widget()->minimumSizeHint().width() + verticalScrollBar()->sizeHint().width();
    const int height =
        std::min(widget()->minimumSizeHint().height(), QScrollArea::minimumSizeHint().height());
    return QSize(width, height).grownBy(contentsMargins());
}

QWidget* AddScrollingBody(QWidget* page) {
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new TScrollingBody(page);
    auto* body = new QWidget(scroll);
    body->setObjectName(page->objectName() + QStringLiteral("Body"));
    scroll->setWidget(body);
    body->setAutoFillBackground(false);
    layout->addWidget(scroll);
    return body;
}

QScreen* ScreenNear(const QPoint& point) {
    if (QScreen* screen = QGuiApplication::screenAt(point))
        return screen;
    QScreen* nearest = QGuiApplication::primaryScreen();
    int best = INT_MAX;
    for (QScreen* screen : QGuiApplication::screens()) {
        const int distance = DistanceTo(screen->geometry(), point);
        if (distance < best) {
            best = distance;
            nearest = screen;
        }
    }
    return nearest;
}

QMargins FrameMargins(const QWidget* window) {
    if (const QWindow* handle = window->windowHandle(); handle && !handle->frameMargins().isNull())
        return handle->frameMargins();
    const int title = window->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window);
    return QMargins(kBorderEstimate, title + kBorderEstimate, kBorderEstimate, kBorderEstimate);
}

QSize FittedSize(const QSize& natural, const QMargins& frame, const QRect& area, qreal pixelRatio) {
    QSize room = area.size().shrunkBy(frame);
    // At a fractional scale the frame's margins are rounded to whole units: a unit more room
    // keeps the frame's last row of pixels on the screen.
    if (pixelRatio != std::floor(pixelRatio))
        room -= QSize(1, 1);
    return natural.boundedTo(room);
}

QPoint ClampedPosition(const QRect& frame, const QRect& area) {
    QRect placed = frame;
    if (placed.right() > area.right())
        placed.moveRight(area.right());
    if (placed.bottom() > area.bottom())
        placed.moveBottom(area.bottom());
    if (placed.left() < area.left())
        placed.moveLeft(area.left());
    if (placed.top() < area.top())
        placed.moveTop(area.top());
    return placed.topLeft();
}

QPoint FitOnScreen(QWidget* window, const QSize& natural, const QPoint& framePos) {
    const QScreen* screen = ScreenNear(framePos);
    if (!screen) {
        window->resize(natural);
        MoveFrameTo(window, framePos);
        return framePos;
    }
    const QRect area = screen->availableGeometry();
    const QMargins margins = FrameMargins(window);
    window->resize(FittedSize(natural, margins, area, screen->devicePixelRatio()));
    const QPoint position = ClampedPosition(QRect(framePos, window->size().grownBy(margins)), area);
    MoveFrameTo(window, position);
    return position;
}

void MoveFrameTo(QWidget* window, const QPoint& framePos) {
    const QWindow* handle = window->windowHandle();
    const bool framed = handle && !handle->frameMargins().isNull();
    if (window->testAttribute(Qt::WA_WState_Created) && !framed) {
        // The platform window exists but its frame is not known yet: the platform takes the
        // place as the client area's, so the estimated frame is left room above and beside it.
        const QMargins margins = FrameMargins(window);
        window->move(framePos + QPoint(margins.left(), margins.top()));
    } else {
        window->move(framePos);
    }
}

TScreenFitting::TScreenFitting(QWidget* window) : QObject(window) {
    window->installEventFilter(this);
}

bool TScreenFitting::eventFilter(QObject* watched, QEvent* event) {
    auto* window = qobject_cast<QWidget*>(watched);
    if (event->type() != QEvent::Show || !window || window != parent())
        return false;
    const QWidget* owner = window->parentWidget();
    const QScreen* screen = owner && owner->screen() ? owner->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return false;
    const QRect area = screen->availableGeometry();
    const QMargins margins = FrameMargins(window);
    const QList<TScrollingBody*> bodies = window->findChildren<TScrollingBody*>();
    for (TScrollingBody* body : bodies)
        body->SetHeightShortfall(0);
    const QSize natural = window->sizeHint();
    const int lacking =
        natural.height() - FittedSize(natural, margins, area, screen->devicePixelRatio()).height();
    if (lacking > 0 && !bodies.isEmpty())
        bodies.front()->SetHeightShortfall(lacking);
    if (window->layout())
        window->layout()->activate();
    QRect frame(QPoint(), window->size().grownBy(margins));
    frame.moveCenter(area.center());
    MoveFrameTo(window, ClampedPosition(frame, area));
    return false;
}
