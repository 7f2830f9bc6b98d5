#include "secapi.h"
#include "servicekeys.h"
#include "servicepaths.h"

#include <QProcess>
#include <QtTest>

#include <sched.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

// The connections in the saved file; -1 when it does not hold a table.
int savedConnections()
{
    QFile state(ServicePaths::stateDirectory() + QStringLiteral("/connections.json"));
    state.open(QIODevice::ReadOnly);
    const QJsonValue connections
        = QJsonDocument::fromJson(state.readAll()).object().value("connections");
    return connections.isArray() ? connections.toArray().size() : -1;
}

QString saveError()
{
    QVariant list;
    sec_GetConnectionsList(&list);
    return serviceStatus().value(ServiceKeys::kSaveError).toString();
}

// A change to save.
bool createConnection()
{
    ConnectionHandle handle = -1;
    return sec_CreateConnection(1, &handle);
}

// Counts the files made in a folder: each try of the service to save makes one.
class Creations
{
public:
    explicit Creations(const QString &folder)
        : fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        ::inotify_add_watch(fd, QFile::encodeName(folder).constData(), IN_CREATE);
    }
    ~Creations() { ::close(fd); }
    int count()
    {
        alignas(inotify_event) char events[4096];
        ssize_t size;
        while ((size = ::read(fd, events, sizeof events)) > 0) {
            for (ssize_t at = 0; at < size;) {
                const auto *event = reinterpret_cast<const inotify_event *>(events + at);
                at += ssize_t(sizeof(inotify_event) + event->len);
                ++made;
            }
        }
        return made;
    }

private:
    int fd;
    int made = 0;
};

} // namespace

// The state folder on a small file system of the test's own, which the test fills up or makes
// read-only under the running service.
class TestSaveFailure : public QObject
{
    Q_OBJECT

public:
    explicit TestSaveFailure(bool privateMounts)
        : privateMounts(privateMounts)
    {
    }

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void failedSaveKeepsTableAndRetries_data();
    void failedSaveKeepsTableAndRetries();

private:
    void breakDisk(const QString &fault);
    void repairDisk(const QString &fault);

    bool privateMounts;
    QByteArray folder;
    QProcess service;
};

void TestSaveFailure::initTestCase()
{
    if (!privateMounts)
        QSKIP("needs root, to mount a file system in a mount namespace of its own");
    folder = QFile::encodeName(ServicePaths::stateDirectory());
}

void TestSaveFailure::init()
{
    QCOMPARE(::mount("tirv-state", folder.constData(), "tmpfs", 0, "size=256k,mode=0700"), 0);
    service.start(qEnvironmentVariable("TIRV_SERVICE_EXEC"), { "--foreground" });
    QTRY_VERIFY_WITH_TIMEOUT(
        service.canReadLine() || (service.waitForReadyRead(100), false), 10000);
    QCOMPARE(service.readLine(), QByteArray("ready\n"));
}

void TestSaveFailure::cleanup()
{
    sec_DisconnectService();
    service.kill();
    service.waitForFinished();
    ::umount2(folder.constData(), MNT_DETACH);
}

void TestSaveFailure::failedSaveKeepsTableAndRetries_data()
{
    QTest::addColumn<QString>("fault");
    // Tries to save on a read-only file system make no file the test could count.
    QTest::addColumn<int>("triesSeen");
    QTest::newRow("full") << "full" << 3;
    QTest::newRow("read-only") << "read-only" << 0;
}

void TestSaveFailure::failedSaveKeepsTableAndRetries()
{
    QFETCH(QString, fault);
    QFETCH(int, triesSeen);
    for (int i = 0; i < 4; ++i)
        QVERIFY(createConnection());
    QTRY_COMPARE(savedConnections(), 4);
    QVERIFY(saveError().isEmpty());

    breakDisk(fault);
    Creations tries(QString::fromLocal8Bit(folder));
    QVERIFY(createConnection()); // taken, though it cannot be saved for now
    QTRY_VERIFY(!saveError().isEmpty());
    QCOMPARE(savedConnections(), 4); // the saved table stays whole
    QTRY_VERIFY(tries.count() >= triesSeen);

    repairDisk(fault);
    QTRY_VERIFY_WITH_TIMEOUT(saveError().isEmpty(), 15000);
    QCOMPARE(savedConnections(), 5);
    // Told once, however many tries it took.
    QCOMPARE(service.readAllStandardError().count("cannot save"), 1);
}

void TestSaveFailure::breakDisk(const QString &fault)
{
    if (fault == QLatin1String("read-only")) {
        QCOMPARE(::mount(nullptr, folder.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
        return;
    }
    QFile filler(QString::fromLocal8Bit(folder) + QStringLiteral("/filler"));
    QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    const QByteArray chunk(4096, 'f');
    while (filler.write(chunk) == chunk.size()) { }
}

void TestSaveFailure::repairDisk(const QString &fault)
{
    if (fault == QLatin1String("read-only"))
        QCOMPARE(::mount(nullptr, folder.constData(), nullptr, MS_REMOUNT, nullptr), 0);
    else
        QVERIFY(QFile::remove(QString::fromLocal8Bit(folder) + QStringLiteral("/filler")));
}

int main(int argc, char **argv)
{
    // Before any thread starts: the namespace is the calling thread's, and the service's.
    const bool privateMounts = ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0
        && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    QCoreApplication app(argc, argv);
    TestSaveFailure test(privateMounts);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_savefailure.moc"
