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
    void renameOntoForeignFileSaysWhy();
    void refusedPortTellsWhy();
    void messagesInLocaleLanguage_data();
    void messagesInLocaleLanguage();
    void helpInChinese();
    void showLinesUpInChinese();
    void cleanupTestCase();

private:
    struct Outcome
    {
        int code;
        QByteArray out;
    };
    static Outcome tirvctl(const QString &commandLine,
        const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());
    // Runs tirvctl in that locale and waits for it.
    static void startInLocale(
        QProcess *process, const QString &locale, const QStringList &arguments);
    static QString link(const QString &comName);
    static QString runtimeDirectory();
};

TstTirvctlService::Outcome TstTirvctlService::tirvctl(
    const QString &commandLine, const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(TIRVCTL, commandLine.split(' '));
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return { -1, QByteArray() };
    return { process.exitCode(), process.readAllStandardOutput() };
}

void TstTirvctlService::startInLocale(
    QProcess *process, const QString &locale, const QStringList &arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LC_ALL", locale);
    process->setProcessEnvironment(environment);
    process->start(TIRVCTL, arguments);
    QVERIFY(process->waitForFinished(30000));
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
    // Where the links are is the running service's to say, whatever tirvctl's environment.
    QProcessEnvironment elsewhere = QProcessEnvironment::systemEnvironment();
    elsewhere.insert("TIRV_PORT_DIR", runtimeDirectory() + "/elsewhere");
    const QJsonObject listed
        = QJsonDocument::fromJson(tirvctl("list --json", elsewhere).out).object();
    QCOMPARE(listed["portDirectory"].toString(), qEnvironmentVariable("TIRV_PORT_DIR"));
    const QJsonArray devices = listed["devices"].toArray();
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

// The service's reason reaches the shell as the message's second line.
void TstTirvctlService::renameOntoForeignFileSaysWhy()
{
    QCOMPARE(tirvctl("add 127.0.0.3 1").code, 0);
    const QJsonArray devices
        = QJsonDocument::fromJson(tirvctl("list --json").out)["devices"].toArray();
    const QString comName = devices.at(0)["ports"].toArray().at(0)["comName"].toString();
    QFile foreign(link("COM77"));
    QVERIFY(foreign.open(QIODevice::WriteOnly));
    foreign.close();

    QProcess process;
    startInLocale(&process, "C", { "rename", comName, "COM77" });
    QCOMPARE(process.exitCode(), 1);
    QCOMPARE(QString::fromUtf8(process.readAllStandardError()),
        QString("Failed to modify COM !\n%1: a file that is not ours is in the way at %2\n")
            .arg(comName, link("COM77")));
    QVERIFY(QFileInfo(link(comName)).isSymLink());
    QCOMPARE(tirvctl("clear 127.0.0.3").code, 0);
    QVERIFY(foreign.remove());
}

// Nothing listens at the device's address: list gives the reason, show --json its parts and the
// counters.
void TstTirvctlService::refusedPortTellsWhy()
{
    QCOMPARE(tirvctl("add 127.77.9.1 1").code, 0);
    QCOMPARE(tirvctl("set COM1 --connect-on-open off").code, 0);
    QProcessEnvironment english = QProcessEnvironment::systemEnvironment();
    english.insert("LC_ALL", "C");
    const QRegularExpression row("COM1 +port 1 +127.77.9.1:966 +COM Closed +\\S+/COM1 +the "
                                 "device refused the connection \\(since \\d\\d:\\d\\d:\\d\\d");
    QTRY_VERIFY_WITH_TIMEOUT(QString::fromUtf8(tirvctl("list", english).out).contains(row), 10000);

    const QJsonObject shown = QJsonDocument::fromJson(tirvctl("show COM1 --json").out).object();
    const QJsonObject reason = shown["reason"].toObject();
    QCOMPARE(reason["code"].toString(), QString("refused"));
    QCOMPARE(reason["text"].toString(), QString("connect to 127.77.9.1:966 refused"));
    QVERIFY(QDateTime::fromString(reason["since"].toString(), Qt::ISODateWithMs).isValid());
    QCOMPARE(shown["counters"].toObject().toVariantMap(),
        QVariantMap({ { "toDevice", 0 }, { "fromDevice", 0 }, { "reconnects", 0 }, { "dropped", 0 },
            { "lastConnect", "" } }));
    QCOMPARE(tirvctl("clear 127.77.9.1").code, 0);
}

void TstTirvctlService::messagesInLocaleLanguage_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<QString>("message");
    // The window's message from its catalogue; tirvctl's own in English or from its catalogue.
    QTest::newRow("window's, English") << "C"
                                       << "add 1.2.3 4"
                                       << "Please enter a standardized IP address!";
    QTest::newRow("window's, Chinese") << "zh_CN.UTF-8"
                                       << "add 1.2.3 4"
                                       << "请输入规范的IP地址!";
    QTest::newRow("own, English") << "en_GB.UTF-8"
                                  << "delete COM"
                                  << "\"COM\" is not a COM name such as COM3.";
    QTest::newRow("own, Chinese") << "zh_CN.UTF-8"
                                  << "delete COM"
                                  << "“COM”不是 COM3 这样的串口号。";
}

void TstTirvctlService::messagesInLocaleLanguage()
{
    QFETCH(QString, locale);
    QFETCH(QString, commandLine);
    QFETCH(QString, message);
    QProcess process;
    startInLocale(&process, locale, commandLine.split(' '));
    QCOMPARE(process.exitCode(), 2);
    QCOMPARE(QString::fromUtf8(process.readAllStandardError()).trimmed(), message);
}

void TstTirvctlService::helpInChinese()
{
    QProcess process;
    startInLocale(&process, "zh_CN.UTF-8", { "delete", "--help" });
    QCOMPARE(process.exitCode(), 0);
    const QString help = QString::fromUtf8(process.readAllStandardOutput());
    QVERIFY2(help.contains("用法：") && help.contains("选项："), qPrintable(help));
}

// The labels are wide characters: the values must still start in one column of the terminal.
void TstTirvctlService::showLinesUpInChinese()
{
    const Outcome added = tirvctl("add 127.77.9.2 1");
    QCOMPARE(added.code, 0);
    const QString comName
        = QString::fromUtf8(added.out).section('\n', 1, 1).trimmed().section(' ', 0, 0);
    QProcess process;
    startInLocale(&process, "zh_CN.UTF-8", { "show", comName });
    QCOMPARE(process.exitCode(), 0);
    const QStringList rows = QString::fromUtf8(process.readAllStandardOutput()).split('\n').mid(1);
    QSet<int> valueColumns;
    for (const QString &row : rows) {
        const int gap = row.indexOf("  ", 2);
        if (gap < 0)
            continue;
        const int value = row.indexOf(QRegularExpression("\\S"), gap);
        int column = 0;
        for (const QChar c : row.left(value))
            column += c.unicode() >= 0x1100 ? 2 : 1;
        valueColumns.insert(column);
    }
    QVERIFY2(valueColumns.size() == 1, qPrintable(rows.join('\n')));
    QCOMPARE(tirvctl("clear 127.77.9.2").code, 0);
}

void TstTirvctlService::cleanupTestCase()
{
    // The service outlives its callers; this test's one holds the pid in its lock file.
    const QString directory = runtimeDirectory();
    QFile lock(ServicePaths::lockPath(directory));
    const int pid = lock.open(QIODevice::ReadOnly) ? lock.readLine().trimmed().toInt() : 0;
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(ServicePaths::socketPath(directory)), 10000);
}

QTEST_GUILESS_MAIN(TstTirvctlService)
#include "tst_tirvctl_service.moc"
