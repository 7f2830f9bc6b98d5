#pragma once

#include <QPoint>
#include <QRect>
#include <QWidget>

namespace Ui {
class TIRVStyle;
}

// The program's frameless top-level window: its own title bar (logo, title, window buttons),
// drag by the title bar, resize by 10-pixel bands along every edge and corner, a drawn outline
// on a translucent background and a soft shadow around the content. A drag is handed to the
// platform where it takes it (on Wayland only the compositor can place a window); elsewhere
// the frame moves and resizes itself.
class TIRVStyle : public QWidget
{
    Q_OBJECT

public:
    explicit TIRVStyle(QWidget *parent = nullptr);
    ~TIRVStyle() override;

    // Places w into the content area, without margins.
    void setContentWidget(QWidget *w);

public slots:
    void reStyleUI();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    virtual void mouseMoveResize(QMouseEvent *event);

private slots:
    void on_toolButton_min_clicked();
    void on_toolButton_restore_clicked();
    void on_toolButton_max_clicked();
    void on_toolButton_close_clicked();

private:
    // The resize zones, in the order they are tried.
    enum Zone { NoZone, TopLeft, TopRight, BottomLeft, BottomRight, Top, Left, Right, Bottom };

    Zone zoneAt(const QPoint &globalPos) const;
    static Qt::CursorShape cursorShapeOf(Zone zone);
    void updateHoverCursor();
    void grabEdges(Zone zone);
    Qt::Edges grabbedEdges() const;
    bool handDragToPlatform(const QPoint &globalPos);
    void endDrag();
    void resizeFromPress(const QPoint &globalPos);
    bool isMoveAllowed() const;
    void setupFrame();
    void setupShadow();

    Ui::TIRVStyle *ui;
    QRect pressGeometry;
    quint8 borderWidth = 10;
    bool mousePressed = false;
    bool titleDragging = false;
    // The platform was asked to take this press's drag, and refused or took it.
    bool platformAsked = false;
    bool edgeTop = false;
    bool edgeLeft = false;
    bool edgeRight = false;
    bool edgeBottom = false;
    QPoint dragStartCursor;
    QPoint dragStartWindow;
    int hoverCursorShape = Qt::ArrowCursor;
};
