#include "openwatcher.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sys/inotify.h>

class TestOpenWatcher : public QObject
{
    Q_OBJECT

private slots:
    void forgettingKeepsOtherPortsEvents();
};

// A port forgets its own opening while another port's open is already read from inotify:
// that open still arrives, with no later event to push it out.
void TestOpenWatcher::forgettingKeepsOtherPortsEvents()
{
    QTemporaryDir dir;
    QFile own(dir.filePath(QStringLiteral("own")));
    QFile other(dir.filePath(QStringLiteral("other")));
    QVERIFY(own.open(QIODevice::WriteOnly) && other.open(QIODevice::WriteOnly));
    own.close();
    other.close();
    OpenWatcher watcher;
    QString reason;
    std::uint32_t ownSeen = 0;
    std::uint32_t otherSeen = 0;
    const int ownId = watcher.watch(
        own.fileName(), [&](std::uint32_t mask) { ownSeen |= mask; }, &reason);
    const int otherId = watcher.watch(
        other.fileName(), [&](std::uint32_t mask) { otherSeen |= mask; }, &reason);
    QVERIFY2(ownId >= 0 && otherId >= 0, qPrintable(reason));

    QVERIFY(other.open(QIODevice::ReadOnly));
    QVERIFY(own.open(QIODevice::ReadOnly));
    watcher.forget(ownId);
    QTRY_VERIFY_WITH_TIMEOUT(otherSeen & IN_OPEN, 2000);
    QCOMPARE(ownSeen, 0u);
}

QTEST_GUILESS_MAIN(TestOpenWatcher)
#include "tst_openwatcher.moc"
