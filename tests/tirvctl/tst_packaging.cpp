#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

// Installation into a prefix, and the Debian package installed and removed with dpkg.
class TstPackaging : public QObject
{
    Q_OBJECT

private slots:
    void installIntoPrefix();
    void debianPackage();
    void cleanupTestCase();

private:
    // Runs program and returns its exit code, -1 when it did not finish; output in *output.
    static int runProgram(
        const QString &program, const QStringList &arguments, QString *output = nullptr);
    // Checks the programs, menu entry, icons and user unit under prefix.
    static void verifyInstalledTree(const QString &prefix);
    static QString fileText(const QString &path);
    static bool packageInstalled();

    bool installedPackage = false;
};

int TstPackaging::runProgram(const QString &program, const QStringList &arguments, QString *output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool finished = process.waitForFinished(15 * 60 * 1000);
    const QString text = QString::fromLocal8Bit(process.readAll());
    if (output)
        *output = text;
    if (!finished || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        qWarning().noquote() << program << arguments.join(' ') << "\n" << text;
    return finished && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QString TstPackaging::fileText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void TstPackaging::verifyInstalledTree(const QString &prefix)
{
    const QStringList programs = QString(TIRV_PROGRAMS).split(' ');
    for (const QString &program : programs) {
        const QFileInfo installed(prefix + "/bin/" + program);
        QVERIFY2(installed.isExecutable(), qPrintable(installed.filePath()));
    }
    QString version;
    QCOMPARE(runProgram(prefix + "/bin/tirvctl", { "--version" }, &version), 0);
    QVERIFY(version.contains(TIRV_VERSION));
    // tirv-run finds its library where it was installed.
    QVERIFY(QFile::exists(prefix + "/" TIRV_RUN_LIBRARY));
    QCOMPARE(runProgram(prefix + "/bin/tirv-run", { "true" }), 0);

    for (const char *icon : { "scalable/apps/tirv.svg", "48x48/apps/tirv.png",
             "128x128/apps/tirv.png", "256x256/apps/tirv.png" })
        QVERIFY2(QFile::exists(prefix + "/share/icons/hicolor/" + icon), icon);

    const QString entryPath = prefix + "/share/applications/tirv.desktop";
    const QString entry = fileText(entryPath);
    QVERIFY(entry.contains("\nExec=" + prefix + "/bin/tirv\n"));
    QVERIFY(entry.contains("\nIcon=tirv\n"));
    QVERIFY(entry.contains("\nCategories=Utility;"));
    const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
    if (!validator.isEmpty())
        QCOMPARE(runProgram(validator, { entryPath }), 0);

    const QString unit = fileText(prefix + "/lib/systemd/user/tirv-service.service");
    QVERIFY(unit.contains("\nExecStart=" + prefix + "/bin/tirv-service --foreground\n"));
    QVERIFY(unit.contains("\nRestart=on-failure\n"));
    QVERIFY(unit.contains("\nWantedBy=default.target\n"));
}

void TstPackaging::installIntoPrefix()
{
    QTemporaryDir prefix;
    QVERIFY(prefix.isValid());
    QCOMPARE(
        runProgram(CMAKE_COMMAND, { "--install", TIRV_BUILD_DIR, "--prefix", prefix.path() }), 0);
    verifyInstalledTree(prefix.path());
}

bool TstPackaging::packageInstalled()
{
    QString status;
    runProgram("dpkg-query", { "-W", "-f=${Status}", "tirv" }, &status);
    return status.contains("install ok installed");
}

void TstPackaging::debianPackage()
{
    if (geteuid() != 0)
        QSKIP("installing a package needs root");
    if (QStandardPaths::findExecutable("dpkg").isEmpty())
        QSKIP("no dpkg on this system");
    if (packageInstalled())
        QSKIP("a tirv package is installed already; leaving it alone");

    QTemporaryDir packageDir;
    QVERIFY(packageDir.isValid());
    QCOMPARE(runProgram(CPACK_COMMAND,
                 { "-G", "DEB", "--config", TIRV_BUILD_DIR "/CPackConfig.cmake", "-B",
                     packageDir.path() }),
        0);
    const QStringList debs = QDir(packageDir.path()).entryList({ "tirv_*.deb" });
    QCOMPARE(debs.size(), 1);
    const QString deb = packageDir.filePath(debs.first());

    QString fields;
    QCOMPARE(runProgram("dpkg-deb", { "--field", deb, "Package", "Depends" }, &fields), 0);
    QVERIFY2(
        fields.contains("Package: tirv") && fields.contains("libqt5core5a"), qPrintable(fields));

    installedPackage = true;
    QCOMPARE(runProgram("dpkg", { "-i", deb }), 0);
    QVERIFY(packageInstalled());
    verifyInstalledTree("/usr");
    if (QTest::currentTestFailed())
        return;

    QCOMPARE(runProgram("dpkg", { "-r", "tirv" }), 0);
    installedPackage = false;
    QVERIFY(!packageInstalled());
    QVERIFY(!QFile::exists("/usr/bin/tirvctl"));
    QVERIFY(!QFile::exists("/usr/lib/systemd/user/tirv-service.service"));
    QVERIFY(!QFile::exists("/usr/share/applications/tirv.desktop"));
}

void TstPackaging::cleanupTestCase()
{
    // A failed check above must not leave the package on the machine.
    if (installedPackage)
        runProgram("dpkg", { "-r", "tirv" });
}

QTEST_GUILESS_MAIN(TstPackaging)
#include "tst_packaging.moc"
