#include "servicepaths.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <signal.h>

// The tirvctl program against the real per-user service, which its first call starts.
class TstTirvctlService : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void portsComeAndGo();
    void cleanupTestCase();

private:
    struct Outcome
    {
        int code;
        QByteArray out;
    };
    static Outcome tirvctl(const QString &commandLine);
    static QString link(const QString &comName);
    static QString runtimeDirectory();
};

TstTirvctlService::Outcome TstTirvctlService::tirvctl(const QString &commandLine)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(TIRVCTL, commandLine.split(' '));
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return { -1, QByteArray() };
    return { process.exitCode(), process.readAllStandardOutput() };
}

QString TstTirvctlService::link(const QString &comName)
{
    return QDir(qEnvironmentVariable("TIRV_PORT_DIR")).filePath(comName);
}

QString TstTirvctlService::runtimeDirectory()
{
    QString error;
    return ServicePaths::runtimeDirectory(&error);
}

void TstTirvctlService::initTestCase()
{
    QVERIFY(QFileInfo(qEnvironmentVariable("TIRV_SERVICE_EXEC")).isExecutable());
}

void TstTirvctlService::portsComeAndGo()
{
    QCOMPARE(tirvctl("add 127.0.0.1 2").code, 0);
    const QJsonArray devices = QJsonDocument::fromJson(tirvctl("list --json").out)["devices"].toArray();
    QCOMPARE(devices.size(), 1);
    const QJsonArray ports = devices.at(0)["ports"].toArray();
    QCOMPARE(ports.size(), 2);
    for (const QJsonValue &port : ports) {
        const QFileInfo pty(port["link"].toString());
        QCOMPARE(pty.filePath(), link(port["comName"].toString()));
        QVERIFY2(pty.isSymLink() && pty.symLinkTarget().startsWith("/dev/pts/"),
                 qPrintable(pty.filePath()));
    }

    QCOMPARE(tirvctl("rename COM1 COM7").code, 0);
    QVERIFY(QFileInfo(link("COM7")).isSymLink());
    QVERIFY(!QFileInfo(link("COM1")).exists());

    QCOMPARE(tirvctl("delete COM9").code, 2);
    QCOMPARE(tirvctl("delete COM2").code, 0);
    QVERIFY(!QFileInfo(link("COM2")).exists());

    QCOMPARE(tirvctl("clear 127.0.0.1").code, 0);
    QCOMPARE(QJsonDocument::fromJson(tirvctl("list --json").out)["devices"].toArray().size(), 0);
}

void TstTirvctlService::cleanupTestCase()
{
    // The service outlives its callers; this test's one holds the pid in its lock file.
    const QString directory = runtimeDirectory();
    QFile lock(ServicePaths::lockPath(directory));
    const int pid = lock.open(QIODevice::ReadOnly) ? lock.readAll().trimmed().toInt() : 0;
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(ServicePaths::socketPath(directory)), 10000);
}

QTEST_GUILESS_MAIN(TstTirvctlService)
#include "tst_tirvctl_service.moc"
