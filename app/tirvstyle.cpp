#include "tirvstyle.h"

#include "ui_tirvstyle.h"

#include <QApplication>
#include <QCursor>
#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWindow>

#include <cmath>

TIRVStyle::TIRVStyle(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::TIRVStyle)
{
    ui->setupUi(this);
    setupFrame();
    setupShadow();
}

TIRVStyle::~TIRVStyle()
{
    delete ui;
}

void TIRVStyle::setupFrame()
{
    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowSystemMenuHint);
    setAttribute(Qt::WA_TranslucentBackground);
    installEventFilter(this);
    ui->windowTitleBar->installEventFilter(this);
    ui->toolButton_restore->hide();
}

void TIRVStyle::setupShadow()
{
    auto *shadow = new QGraphicsDropShadowEffect(this);
    shadow->setOffset(0, 0);
    shadow->setColor(QColor(255, 255, 255, 100));
    shadow->setBlurRadius(22);
    ui->widgetContent->setGraphicsEffect(shadow);
}

void TIRVStyle::setContentWidget(QWidget *w)
{
    auto *layout = new QHBoxLayout;
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(w);
    ui->widgetContent->setLayout(layout);
}

void TIRVStyle::reStyleUI()
{
    ui->retranslateUi(this);
}

TIRVStyle::Zone TIRVStyle::zoneAt(const QPoint &globalPos) const
{
    const QRect g = geometry();
    const int px = globalPos.x();
    const int py = globalPos.y();
    const bool top = g.y() <= py && py <= g.y() + borderWidth;
    const bool bottom = g.y() + g.height() - borderWidth <= py && py <= g.y() + g.height();
    const bool left = g.x() <= px && px <= g.x() + borderWidth;
    const bool right = g.x() + g.width() - borderWidth <= px && px <= g.x() + g.width();
    if (top && left)
        return TopLeft;
    if (top && right)
        return TopRight;
    if (bottom && left)
        return BottomLeft;
    if (bottom && right)
        return BottomRight;
    if (top)
        return Top;
    if (left)
        return Left;
    if (right)
        return Right;
    return bottom ? Bottom : NoZone;
}

Qt::CursorShape TIRVStyle::cursorShapeOf(Zone zone)
{
    switch (zone) {
    case TopLeft:
    case BottomRight:
        return Qt::SizeFDiagCursor;
    case TopRight:
    case BottomLeft:
        return Qt::SizeBDiagCursor;
    case Top:
    case Bottom:
        return Qt::SizeVerCursor;
    case Left:
    case Right:
        return Qt::SizeHorCursor;
    case NoZone:
        break;
    }
    return Qt::ArrowCursor;
}

void TIRVStyle::updateHoverCursor()
{
    const int shape = cursorShapeOf(zoneAt(QCursor::pos()));
    if (shape != hoverCursorShape) {
        hoverCursorShape = shape;
        setCursor(Qt::CursorShape(shape));
    }
}

bool TIRVStyle::isMoveAllowed() const
{
    return !isMaximized() && !isFullScreen();
}

bool TIRVStyle::eventFilter(QObject *watched, QEvent *event)
{
    updateHoverCursor();
    const bool onFrame = watched == this;
    const bool onTitleBar = watched == ui->windowTitleBar;
    auto *mouse = static_cast<QMouseEvent *>(event);
    switch (event->type()) {
    case QEvent::MouseMove:
        if (isMoveAllowed() && !handDragToPlatform(mouse->globalPos())) {
            mouseMoveResize(mouse);
            if (onTitleBar && titleDragging)
                move(dragStartWindow + mouse->globalPos() - dragStartCursor);
        }
        break;
    case QEvent::MouseButtonPress:
        if (onFrame) {
            mousePressEvent(mouse);
        } else if (onTitleBar && zoneAt(mouse->globalPos()) == NoZone) {
            // A press in the band along the top resizes; dragging as well would move twice.
            titleDragging = true;
            platformAsked = false;
            dragStartCursor = mouse->globalPos();
            dragStartWindow = pos();
        }
        break;
    case QEvent::MouseButtonRelease:
        if (onFrame && mousePressed)
            mouseReleaseEvent(mouse);
        else if (onTitleBar)
            titleDragging = false;
        break;
    case QEvent::MouseButtonDblClick:
        if (onTitleBar && windowState() == Qt::WindowNoState)
            on_toolButton_max_clicked();
        else if (onTitleBar && !isFullScreen() && isMaximized())
            on_toolButton_restore_clicked();
        break;
    case QEvent::Leave:
        if (onFrame)
            setCursor(Qt::ArrowCursor);
        break;
    case QEvent::Enter:
        if (onTitleBar)
            setCursor(Qt::ArrowCursor);
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

// Runs twice for one press (filter and normal delivery); it only sets flags, so that is harmless.
void TIRVStyle::mousePressEvent(QMouseEvent *event)
{
    if (isMaximized())
        return;
    mousePressed = true;
    platformAsked = false;
    pressGeometry = geometry();
    dragStartCursor = mapToGlobal(event->pos());
    grabEdges(zoneAt(dragStartCursor));
}

void TIRVStyle::grabEdges(Zone zone)
{
    if (zone == NoZone)
        return;
    edgeTop = edgeTop || zone == TopLeft || zone == TopRight || zone == Top;
    edgeLeft = edgeLeft || zone == TopLeft || zone == BottomLeft || zone == Left;
    edgeRight = edgeRight || zone == TopRight || zone == BottomRight || zone == Right;
    edgeBottom = edgeBottom || zone == BottomLeft || zone == BottomRight || zone == Bottom;
    setCursor(cursorShapeOf(zone));
}

Qt::Edges TIRVStyle::grabbedEdges() const
{
    Qt::Edges edges;
    edges.setFlag(Qt::TopEdge, edgeTop);
    edges.setFlag(Qt::LeftEdge, edgeLeft);
    edges.setFlag(Qt::RightEdge, edgeRight);
    edges.setFlag(Qt::BottomEdge, edgeBottom);
    return edges;
}

// Once the pointer has gone a drag's distance from the press, the platform is asked once to take
// the drag over; a click or double click never reaches it. Taken, the platform moves the pointer
// and the window from here on and this press ends for the frame.
bool TIRVStyle::handDragToPlatform(const QPoint &globalPos)
{
    const Qt::Edges edges = mousePressed ? grabbedEdges() : Qt::Edges();
    if ((!edges && !titleDragging) || platformAsked
        || (globalPos - dragStartCursor).manhattanLength() < QApplication::startDragDistance())
        return false;
    platformAsked = true;
    QWindow *window = windowHandle();
    const bool taken
        = window && (edges ? window->startSystemResize(edges) : window->startSystemMove());
    if (taken)
        endDrag();
    return taken;
}

void TIRVStyle::endDrag()
{
    mousePressed = false;
    titleDragging = false;
    edgeTop = edgeLeft = edgeRight = edgeBottom = false;
    setCursor(Qt::ArrowCursor);
}

void TIRVStyle::mouseReleaseEvent(QMouseEvent *)
{
    if (isMaximized())
        return;
    mousePressed = false;
    if (edgeTop || edgeLeft || edgeRight || edgeBottom)
        setCursor(Qt::ArrowCursor);
    edgeTop = edgeLeft = edgeRight = edgeBottom = false;
}

void TIRVStyle::mouseMoveResize(QMouseEvent *event)
{
    const QPoint globalPos = event->globalPos();
    if (mousePressed) {
        resizeFromPress(globalPos);
        return;
    }
    const Zone zone = zoneAt(globalPos);
    if (zone == NoZone)
        edgeTop = edgeLeft = edgeRight = edgeBottom = false;
    setCursor(cursorShapeOf(zone));
}

// The edges held since the press follow the cursor; the others stay where they were. A size
// at or below the minimum is refused, leaving the frame as the last accepted move put it.
void TIRVStyle::resizeFromPress(const QPoint &globalPos)
{
    const bool horizontal = edgeLeft || edgeRight;
    const bool vertical = edgeTop || edgeBottom;
    if (!horizontal && !vertical)
        return;
    const QRect &s = pressGeometry;
    const int w = edgeLeft ? s.x() + s.width() - globalPos.x()
        : edgeRight        ? globalPos.x() - s.x()
                           : s.width();
    const int h = edgeTop ? s.y() + s.height() - globalPos.y()
        : edgeBottom      ? globalPos.y() - s.y()
                          : s.height();
    if ((horizontal && w <= minimumWidth()) || (vertical && h <= minimumHeight()))
        return;
    if (edgeLeft || edgeTop)
        setGeometry(edgeLeft ? globalPos.x() : s.x(), edgeTop ? globalPos.y() : s.y(), w, h);
    else
        resize(w, h);
}

// Only the soft outline is drawn; the rest of the frame's surface stays transparent.
void TIRVStyle::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    for (int k = 0; k < 6; ++k) {
        QPainterPath path;
        path.setFillRule(Qt::WindingFill);
        path.addRoundedRect(
            QRectF(6 - k, 6 - k, width() - 12 + 2 * k, height() - 12 + 2 * k), 3 + k, 3 + k);
        painter.setPen(QColor(0, 0, 0, int(120 - 50 * std::sqrt(double(k)))));
        painter.drawPath(path);
    }
}

void TIRVStyle::on_toolButton_min_clicked()
{
    showMinimized();
    update();
}

void TIRVStyle::on_toolButton_max_clicked()
{
    ui->toolButton_restore->show();
    ui->toolButton_max->hide();
    setWindowState(Qt::WindowMaximized);
    showMaximized();
    update();
}

void TIRVStyle::on_toolButton_restore_clicked()
{
    ui->toolButton_restore->hide();
    ui->toolButton_max->show();
    setWindowState(Qt::WindowNoState);
    update();
}

void TIRVStyle::on_toolButton_close_clicked()
{
    close();
}
