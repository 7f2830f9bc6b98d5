#include "tirvresources.h"
#include "tirvstyle.h"

#include <QLabel>
#include <QMouseEvent>
#include <QToolButton>
#include <QTranslator>
#include <QtTest>

namespace {

const QRect startGeometry(100, 100, 802, 580);

void sendMouse(QWidget *target, QEvent::Type type, const QPoint &global,
    Qt::MouseButton button = Qt::LeftButton)
{
    QCursor::setPos(global);
    const Qt::MouseButtons held
        = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    const Qt::MouseButton changed = type == QEvent::MouseMove ? Qt::NoButton : button;
    QMouseEvent event(type, target->mapFromGlobal(global), global, changed, held, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

} // namespace

class TestTIRVStyle : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { initTirvResources(); }
    void init();
    void cleanup() { delete frame; }

    void zones_data();
    void zones();
    void leftEdgeFollowsCursor();
    void widthAtMinimumNeverApplied();
    void titleDrag_data();
    void titleDrag();
    void titleDragRefusedWhileMaximised();
    void pressOnTitleBarBandOnlyResizes();
    void doubleClickSwapsButtons();
    void buttonsSwap();
    void titleReadsTheSameInEnglish();

private:
    QWidget *titleBar() const
    {
        return frame->findChild<QWidget *>(QStringLiteral("windowTitleBar"));
    }
    QToolButton *button(const char *name) const
    {
        return frame->findChild<QToolButton *>(QLatin1String(name));
    }

    TIRVStyle *frame = nullptr;
};

void TestTIRVStyle::init()
{
    frame = new TIRVStyle;
    frame->setGeometry(startGeometry);
    frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(frame));
    QCOMPARE(frame->geometry(), startGeometry);
}

void TestTIRVStyle::zones_data()
{
    QTest::addColumn<QPoint>("offset"); // from the frame's top-left corner
    QTest::addColumn<int>("shape");

    const int w = startGeometry.width();
    const int h = startGeometry.height();
    QTest::newRow("top-left, 10 inside") << QPoint(10, 10) << int(Qt::SizeFDiagCursor);
    QTest::newRow("11 inside: no zone") << QPoint(11, 11) << int(Qt::ArrowCursor);
    QTest::newRow("top-right") << QPoint(w - 10, 5) << int(Qt::SizeBDiagCursor);
    QTest::newRow("bottom-left") << QPoint(3, h) << int(Qt::SizeBDiagCursor);
    QTest::newRow("bottom-right") << QPoint(w, h) << int(Qt::SizeFDiagCursor);
    QTest::newRow("top") << QPoint(400, 0) << int(Qt::SizeVerCursor);
    QTest::newRow("left") << QPoint(0, 300) << int(Qt::SizeHorCursor);
    QTest::newRow("right") << QPoint(w - 10, 300) << int(Qt::SizeHorCursor);
    QTest::newRow("bottom") << QPoint(400, h - 10) << int(Qt::SizeVerCursor);
    QTest::newRow("below the top band") << QPoint(400, 11) << int(Qt::ArrowCursor);
}

void TestTIRVStyle::zones()
{
    QFETCH(QPoint, offset);
    QFETCH(int, shape);
    sendMouse(frame, QEvent::MouseButtonPress, startGeometry.topLeft() + offset);
    QCOMPARE(int(frame->cursor().shape()), shape);
    sendMouse(frame, QEvent::MouseButtonRelease, startGeometry.topLeft() + offset);
    QCOMPARE(int(frame->cursor().shape()), int(Qt::ArrowCursor));
}

void TestTIRVStyle::leftEdgeFollowsCursor()
{
    const int y = startGeometry.y() + 300;
    const int right = startGeometry.x() + startGeometry.width();
    sendMouse(frame, QEvent::MouseButtonPress, QPoint(startGeometry.x() + 5, y));
    sendMouse(frame, QEvent::MouseMove, QPoint(startGeometry.x() + 5, y));
    QCOMPARE(frame->geometry().x(), startGeometry.x() + 5);
    sendMouse(frame, QEvent::MouseMove, QPoint(startGeometry.x() - 40, y));
    QCOMPARE(frame->geometry().x(), startGeometry.x() - 40);
    QCOMPARE(frame->geometry().x() + frame->geometry().width(), right);
    QCOMPARE(frame->geometry().y(), startGeometry.y());
    sendMouse(frame, QEvent::MouseButtonRelease, QPoint(startGeometry.x() - 40, y));
    sendMouse(frame, QEvent::MouseMove, QPoint(startGeometry.x() - 80, y));
    QCOMPARE(frame->geometry().x(), startGeometry.x() - 40);
}

void TestTIRVStyle::widthAtMinimumNeverApplied()
{
    const int minW = frame->minimumWidth();
    const int y = startGeometry.y() + 300;
    const int x = startGeometry.x();
    sendMouse(frame, QEvent::MouseButtonPress, QPoint(x + startGeometry.width() - 2, y));
    sendMouse(frame, QEvent::MouseMove, QPoint(x + minW + 1, y));
    QCOMPARE(frame->width(), minW + 1);
    sendMouse(frame, QEvent::MouseMove, QPoint(x + minW, y));
    QCOMPARE(frame->width(), minW + 1);
    sendMouse(frame, QEvent::MouseMove, QPoint(x + minW - 50, y));
    QCOMPARE(frame->width(), minW + 1);
    QCOMPARE(frame->pos(), startGeometry.topLeft());
}

void TestTIRVStyle::titleDrag_data()
{
    QTest::addColumn<int>("buttonValue");
    QTest::newRow("left") << int(Qt::LeftButton);
    QTest::newRow("right") << int(Qt::RightButton);
    QTest::newRow("middle") << int(Qt::MiddleButton);
}

void TestTIRVStyle::titleDrag()
{
    QFETCH(int, buttonValue);
    const auto button = Qt::MouseButton(buttonValue);
    const QPoint grip = titleBar()->mapToGlobal(QPoint(300, 20));
    sendMouse(titleBar(), QEvent::MouseButtonPress, grip, button);
    sendMouse(titleBar(), QEvent::MouseMove, grip + QPoint(37, 23), button);
    QCOMPARE(frame->pos(), startGeometry.topLeft() + QPoint(37, 23));
    sendMouse(titleBar(), QEvent::MouseMove, grip + QPoint(-15, 4), button);
    QCOMPARE(frame->pos(), startGeometry.topLeft() + QPoint(-15, 4));
    QCOMPARE(frame->size(), startGeometry.size());
    sendMouse(titleBar(), QEvent::MouseButtonRelease, grip + QPoint(-15, 4), button);
    sendMouse(titleBar(), QEvent::MouseMove, grip + QPoint(60, 60), button);
    QCOMPARE(frame->pos(), startGeometry.topLeft() + QPoint(-15, 4));
}

void TestTIRVStyle::titleDragRefusedWhileMaximised()
{
    button("toolButton_max")->click();
    QVERIFY(frame->isMaximized());
    const QRect maximised = frame->geometry();
    const QPoint grip = titleBar()->mapToGlobal(QPoint(300, 20));
    sendMouse(titleBar(), QEvent::MouseButtonPress, grip);
    sendMouse(titleBar(), QEvent::MouseMove, grip + QPoint(37, 23));
    QCOMPARE(frame->geometry(), maximised);
}

// The top rows of the title bar lie in the top resize band: they resize, and do not also drag.
void TestTIRVStyle::pressOnTitleBarBandOnlyResizes()
{
    const QPoint grip = titleBar()->mapToGlobal(QPoint(300, 2));
    QVERIFY(grip.y() <= startGeometry.y() + 10);
    const int bottom = startGeometry.y() + startGeometry.height();
    sendMouse(titleBar(), QEvent::MouseButtonPress, grip);
    sendMouse(titleBar(), QEvent::MouseMove, grip - QPoint(0, 30));
    QCOMPARE(frame->geometry().y(), grip.y() - 30);
    QCOMPARE(frame->geometry().y() + frame->geometry().height(), bottom);
}

void TestTIRVStyle::doubleClickSwapsButtons()
{
    QVERIFY(button("toolButton_restore")->isHidden());
    QVERIFY(!button("toolButton_max")->isHidden());
    const QPoint grip = titleBar()->mapToGlobal(QPoint(300, 20));

    sendMouse(titleBar(), QEvent::MouseButtonDblClick, grip);
    QVERIFY(frame->isMaximized());
    QVERIFY(!button("toolButton_restore")->isHidden());
    QVERIFY(button("toolButton_max")->isHidden());

    sendMouse(titleBar(), QEvent::MouseButtonDblClick, titleBar()->mapToGlobal(QPoint(300, 20)));
    QCOMPARE(frame->windowState(), Qt::WindowNoState);
    QVERIFY(button("toolButton_restore")->isHidden());
    QVERIFY(!button("toolButton_max")->isHidden());
}

void TestTIRVStyle::buttonsSwap()
{
    button("toolButton_max")->click();
    QVERIFY(frame->isMaximized());
    QVERIFY(button("toolButton_max")->isHidden());
    button("toolButton_restore")->click();
    QCOMPARE(frame->windowState(), Qt::WindowNoState);
    QVERIFY(button("toolButton_restore")->isHidden());
    QVERIFY(!button("toolButton_max")->isHidden());
}

void TestTIRVStyle::titleReadsTheSameInEnglish()
{
    QTranslator english;
    QVERIFY(english.load(QStringLiteral(":/form/English.qm")));
    QCoreApplication::installTranslator(&english);
    frame->reStyleUI();
    QCoreApplication::removeTranslator(&english);
    QCOMPARE(frame->windowTitle(), QStringLiteral("TIRV"));
    QCOMPARE(
        frame->findChild<QLabel *>(QStringLiteral("label_title"))->text(), QStringLiteral("TIRV"));
    QVERIFY(!frame->findChild<QLabel *>(QStringLiteral("label_icon"))
                 ->pixmap(Qt::ReturnByValue)
                 .isNull());
}

QTEST_MAIN(TestTIRVStyle)
#include "tst_tirvstyle.moc"
