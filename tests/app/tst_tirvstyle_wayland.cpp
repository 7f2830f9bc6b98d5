#include "tirvresources.h"
#include "tirvstyle.h"

#include <QLocalSocket>
#include <QToolButton>
#include <QtTest>

// The frame under a real Wayland compositor (weston, headless), pressed and dragged through
// the compositor's own pointer (see westonpointer.c and wayland_frame.sh). A window there cannot
// place itself: it moves and resizes only when the compositor took the drag.
class TestTIRVStyleWayland : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void titleBarDragMovesTheWindow();
    void edgeDragResizesTheWindow();
    void doubleClickStillMaximises();

private:
    struct Placement
    {
        QRect geometry; // in the compositor's space
        bool grabbed = false; // a move or resize of the compositor holds the pointer
    };

    QString ask(const QString &command);
    void press(const QPoint &framePos);
    Placement placement();
    QPoint titleBarGrip() const;

    QLocalSocket pointer;
    TIRVStyle *frame = nullptr;
};

void TestTIRVStyleWayland::initTestCase()
{
    QCOMPARE(QGuiApplication::platformName(), QString("wayland"));
    initTirvResources();
    pointer.connectToServer(qEnvironmentVariable("TIRV_WESTON_POINTER"));
    QVERIFY(pointer.waitForConnected(5000));
}

void TestTIRVStyleWayland::init()
{
    frame = new TIRVStyle;
    frame->resize(802, 580);
    frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(frame));
    QTRY_VERIFY(ask("window " + QString::number(QCoreApplication::applicationPid())) != "none");
}

void TestTIRVStyleWayland::cleanup()
{
    ask("release");
    delete frame;
}

QString TestTIRVStyleWayland::ask(const QString &command)
{
    pointer.write(command.toUtf8() + '\n');
    while (!pointer.canReadLine()) {
        if (!pointer.waitForReadyRead(5000))
            return QString();
    }
    return QString::fromUtf8(pointer.readLine()).trimmed();
}

void TestTIRVStyleWayland::press(const QPoint &framePos)
{
    const QString pid = QString::number(QCoreApplication::applicationPid());
    QCOMPARE(
        ask(QString("press %1 %2 %3").arg(pid).arg(framePos.x()).arg(framePos.y())), QString("ok"));
}

TestTIRVStyleWayland::Placement TestTIRVStyleWayland::placement()
{
    const QStringList fields
        = ask("window " + QString::number(QCoreApplication::applicationPid())).split(' ');
    Placement place;
    if (fields.size() == 5) {
        place.geometry = QRect(
            fields.at(0).toInt(), fields.at(1).toInt(), fields.at(2).toInt(), fields.at(3).toInt());
        place.grabbed = fields.at(4) == "1";
    }
    return place;
}

QPoint TestTIRVStyleWayland::titleBarGrip() const
{
    const auto *titleBar = frame->findChild<QWidget *>(QStringLiteral("windowTitleBar"));
    return titleBar->mapTo(frame, QPoint(300, 20));
}

// Past the drag distance the frame hands the drag to the compositor, which from then on moves
// the window with the pointer, from where it was pressed.
void TestTIRVStyleWayland::titleBarDragMovesTheWindow()
{
    const QRect before = placement().geometry;
    press(titleBarGrip());
    ask("move 40 0");
    QTRY_VERIFY(placement().grabbed);
    ask("move 0 30");
    QTRY_COMPARE(placement().geometry, before.translated(40, 30));
    ask("release");
    QTRY_VERIFY(!placement().grabbed);
    QCOMPARE(frame->size(), before.size());
}

void TestTIRVStyleWayland::edgeDragResizesTheWindow()
{
    const QSize before = frame->size();
    press(QPoint(4, 300));
    ask("move 40 0");
    QTRY_VERIFY(placement().grabbed);
    ask("move 30 0");
    QTRY_COMPARE(frame->size(), before - QSize(70, 0));
    ask("release");
    QTRY_VERIFY(!placement().grabbed);
}

// Clicks never reach the compositor's move: the double click is the frame's, as elsewhere.
void TestTIRVStyleWayland::doubleClickStillMaximises()
{
    for (int click = 0; click < 2; ++click) {
        press(titleBarGrip());
        ask("release");
    }
    QTRY_VERIFY(frame->isMaximized());
    QVERIFY(frame->findChild<QToolButton *>(QStringLiteral("toolButton_max"))->isHidden());
}

QTEST_MAIN(TestTIRVStyleWayland)
#include "tst_tirvstyle_wayland.moc"
