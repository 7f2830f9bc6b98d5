#include "epolldispatcher.h"

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>
#include <QtTest>

#include <memory>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// A connected pair of stream sockets, closed with this.
struct SocketPair
{
    SocketPair() { socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds); }
    ~SocketPair()
    {
        for (const int fd : fds)
            if (fd >= 0)
                close(fd);
    }
    void closeEnd(int end)
    {
        close(fds[end]);
        fds[end] = -1;
    }
    int fds[2] = { -1, -1 };
};

// Runs the loop until done() holds or ms pass.
bool spinUntil(const std::function<bool()> &done, int ms = 5000)
{
    QElapsedTimer clock;
    clock.start();
    QTimer wake;
    wake.start(ms);
    while (!done() && !clock.hasExpired(ms))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

// Runs the loop for ms.
void spinFor(int ms)
{
    spinUntil([] { return false; }, ms);
}

} // namespace

class TestEpollDispatcher : public QObject
{
    Q_OBJECT

private slots:
    void notifiers_data();
    void notifiers();
    void timersFireInOrderAndNeverEarly();
    void zeroTimerLeavesRoomForSockets();
    void anotherThreadWakesAndEndsTheLoop();
    void removedNotifierIsNotActivated();
};

void TestEpollDispatcher::notifiers_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QString>("cause");
    QTest::addColumn<bool>("activated");

    const int read = QSocketNotifier::Read, write = QSocketNotifier::Write;
    QTest::newRow("bytes wake a reader") << read << true << "bytes" << true;
    QTest::newRow("a disabled reader stays quiet") << read << false << "bytes" << false;
    QTest::newRow("the peer's close wakes a reader") << read << true << "close" << true;
    QTest::newRow("nothing to read, nothing said") << read << true << "" << false;
    QTest::newRow("room wakes a writer") << write << true << "" << true;
}

void TestEpollDispatcher::notifiers()
{
    QFETCH(int, type);
    QFETCH(bool, enabled);
    QFETCH(QString, cause);
    QFETCH(bool, activated);
    SocketPair pair;
    QSocketNotifier notifier(pair.fds[0], QSocketNotifier::Type(type));
    notifier.setEnabled(enabled);
    int count = 0;
    connect(&notifier, &QSocketNotifier::activated, this, [&] {
        ++count;
        notifier.setEnabled(false);
    });
    if (cause == QLatin1String("bytes"))
        QCOMPARE(::write(pair.fds[1], "x", 1), ssize_t(1));
    if (cause == QLatin1String("close"))
        pair.closeEnd(1);
    // What is not activated at once is not activated later either: the events are all there.
    spinUntil([&] { return count > 0; }, activated ? 5000 : 100);
    QCOMPARE(count, activated ? 1 : 0);
}

void TestEpollDispatcher::timersFireInOrderAndNeverEarly()
{
    QElapsedTimer clock;
    clock.start();
    QList<int> order;
    QList<qint64> firedNs;
    for (const int ms : { 30, 1, 20, 10 }) {
        QTimer::singleShot(ms, Qt::PreciseTimer, this, [&, ms] {
            order.append(ms);
            firedNs.append(clock.nsecsElapsed());
        });
    }
    QVERIFY(spinUntil([&] { return order.size() == 4; }));
    QCOMPARE(order, QList<int>({ 1, 10, 20, 30 }));
    for (int i = 0; i < order.size(); ++i)
        QVERIFY2(firedNs.at(i) >= order.at(i) * 1000000LL, qPrintable(QString::number(i)));
}

void TestEpollDispatcher::zeroTimerLeavesRoomForSockets()
{
    QTimer busy;
    busy.setInterval(0);
    int turns = 0;
    connect(&busy, &QTimer::timeout, this, [&] { ++turns; });
    busy.start();
    SocketPair pair;
    QSocketNotifier reader(pair.fds[0], QSocketNotifier::Read);
    bool read = false;
    connect(&reader, &QSocketNotifier::activated, this, [&] {
        char byte;
        read = ::read(pair.fds[0], &byte, 1) == 1;
    });
    QCOMPARE(::write(pair.fds[1], "x", 1), ssize_t(1));
    QVERIFY(spinUntil([&] { return read; }));
    QVERIFY(turns > 0);
}

void TestEpollDispatcher::anotherThreadWakesAndEndsTheLoop()
{
    QEventLoop loop;
    bool delivered = false;
    std::thread other([&] {
        QMetaObject::invokeMethod(
            this, [&] { delivered = true; }, Qt::QueuedConnection);
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    QTimer::singleShot(5000, &loop, [&] { loop.exit(1); });
    QCOMPARE(loop.exec(), 0);
    other.join();
    QVERIFY(delivered);
}

// Two descriptors ready in the same wake-up: the first one's slot drops the second and puts a
// new, quiet descriptor with the same number in its place. The old event must reach nobody.
void TestEpollDispatcher::removedNotifierIsNotActivated()
{
    SocketPair pairs[2];
    std::unique_ptr<QSocketNotifier> notifiers[2];
    std::unique_ptr<SocketPair> replacement;
    std::unique_ptr<QSocketNotifier> newcomer;
    int activations = 0;
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(::write(pairs[i].fds[1], "x", 1), ssize_t(1));
        notifiers[i] = std::make_unique<QSocketNotifier>(pairs[i].fds[0], QSocketNotifier::Read);
        connect(notifiers[i].get(), &QSocketNotifier::activated, this, [&, i] {
            ++activations;
            notifiers[i]->setEnabled(false);
            const int victim = 1 - i;
            const int number = pairs[victim].fds[0];
            notifiers[victim].reset();
            pairs[victim].closeEnd(0);
            replacement = std::make_unique<SocketPair>();
            newcomer = std::make_unique<QSocketNotifier>(number, QSocketNotifier::Read);
            connect(newcomer.get(), &QSocketNotifier::activated, this, [&] { ++activations; });
            QCOMPARE(replacement->fds[0], number);
        });
    }
    spinFor(50);
    QCOMPARE(activations, 1);
}

int main(int argc, char *argv[])
{
    QCoreApplication::setEventDispatcher(new EpollDispatcher);
    QCoreApplication app(argc, argv);
    TestEpollDispatcher test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_epolldispatcher.moc"
