#include "instanceguard.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QTimer>
#include <QtTest>

namespace {

// The process id recorded in the lock file, 0 when there is none.
qint64 lockHolder(const QString &path)
{
    QLockFile probe(path);
    qint64 pid = 0;
    QString host, application;
    return probe.getLockInfo(&pid, &host, &application) ? pid : 0;
}

void startTirv(QProcess &tirv)
{
    // The program starts its service in the test's private runtime folder, which ends it when
    // the folder is removed.
    tirv.setProgram(QStringLiteral(TIRV_EXECUTABLE));
    tirv.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    tirv.start();
}

} // namespace

class TestInstanceGuard : public QObject
{
    Q_OBJECT

private slots:
    void secondGuardRefusedUntilFirstReleases();
    void liveHolderKeepsOldLock();
    void unusableDirectoryDoesNotBlock_data();
    void unusableDirectoryDoesNotBlock();
    void boxOfSecondInstance();
    void runningProgramRefusesSecondAndKilledOneDoesNot();
};

void TestInstanceGuard::secondGuardRefusedUntilFirstReleases()
{
    auto first = std::make_unique<InstanceGuard>(QStringLiteral("TIRV-same-process"));
    InstanceGuard second(QStringLiteral("TIRV-same-process"));
    QVERIFY(first->tryAcquire());
    QVERIFY(first->tryAcquire());
    QVERIFY(!second.tryAcquire());
    first.reset();
    QVERIFY(second.tryAcquire());
}

// A lock is not stale for being old: only a dead holder gives it up.
void TestInstanceGuard::liveHolderKeepsOldLock()
{
    InstanceGuard first(QStringLiteral("TIRV-old"));
    QVERIFY(first.tryAcquire());
    QFile lockFile(first.lockFilePath());
    QVERIFY(lockFile.open(QIODevice::ReadWrite));
    QVERIFY(lockFile.setFileTime(
        QDateTime::currentDateTime().addDays(-2), QFileDevice::FileModificationTime));
    lockFile.close();
    QVERIFY(!InstanceGuard(QStringLiteral("TIRV-old")).tryAcquire());
}

void TestInstanceGuard::unusableDirectoryDoesNotBlock_data()
{
    QTest::addColumn<QString>("directory");
    QTest::newRow("missing") << "missing/folder";
    QTest::newRow("a file, not a folder") << "file";
    // For root the folder stays writable and the lock is simply taken.
    QTest::newRow("read-only") << "read-only";
}

// Only a live holder refuses a start; any other failure to lock lets the program run.
void TestInstanceGuard::unusableDirectoryDoesNotBlock()
{
    QFETCH(QString, directory);
    QTemporaryDir base;
    QVERIFY(base.isValid());
    QFile file(base.filePath("file"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(QDir(base.path()).mkdir("read-only"));
    QVERIFY(QFile::setPermissions(
        base.filePath("read-only"), QFileDevice::ReadOwner | QFileDevice::ExeOwner));

    InstanceGuard guard(QStringLiteral("TIRV"), base.filePath(directory));
    QVERIFY(guard.tryAcquire());
    // Where the lock could be made after all, it still keeps a second copy out.
    const bool locked = QFile::exists(guard.lockFilePath());
    QCOMPARE(InstanceGuard(QStringLiteral("TIRV"), base.filePath(directory)).tryAcquire(), !locked);
}

void TestInstanceGuard::boxOfSecondInstance()
{
    QString title, text;
    int buttons = 0;
    bool parentless = false;
    QTimer closer;
    connect(&closer, &QTimer::timeout, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        title = box->windowTitle();
        text = box->text();
        buttons = box->buttons().size();
        parentless = box->parentWidget() == nullptr;
        box->button(QMessageBox::Ok)->click();
    });
    closer.start(10);
    InstanceGuard::showAlreadyRunning();
    QCOMPARE(title, QStringLiteral("Warning"));
    QCOMPARE(text, QStringLiteral("Application is already running!"));
    QCOMPARE(buttons, 1);
    QVERIFY(parentless);
}

void TestInstanceGuard::runningProgramRefusesSecondAndKilledOneDoesNot()
{
    InstanceGuard guard(QStringLiteral("TIRV"));
    QProcess first;
    startTirv(first);
    QVERIFY(first.waitForStarted());
    QTRY_COMPARE_WITH_TIMEOUT(lockHolder(guard.lockFilePath()), first.processId(), 15000);
    QVERIFY(!guard.tryAcquire());

    first.kill();
    QVERIFY(first.waitForFinished());
    QVERIFY(QFile::exists(guard.lockFilePath()));

    QProcess next;
    startTirv(next);
    QVERIFY(next.waitForStarted());
    QTRY_COMPARE_WITH_TIMEOUT(lockHolder(guard.lockFilePath()), next.processId(), 15000);
    QCOMPARE(next.state(), QProcess::Running);
    QVERIFY(!guard.tryAcquire());
    next.kill();
    QVERIFY(next.waitForFinished());
}

QTEST_MAIN(TestInstanceGuard)
#include "tst_instanceguard.moc"
