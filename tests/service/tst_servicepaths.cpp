#include "servicepaths.h"

#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using ServicePaths::FolderAccess;

class TestServicePaths : public QObject
{
    Q_OBJECT

private slots:
    void privateFolderRule_data();
    void privateFolderRule();
    void parentFolderRule_data();
    void parentFolderRule();
};

void TestServicePaths::privateFolderRule_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("ownerOnly");
    QTest::addColumn<bool>("othersRead");
    QTest::newRow("0700") << "folder" << 0700 << true << true;
    // Others may look into the port directory, never into the runtime folder.
    QTest::newRow("0755") << "folder" << 0755 << false << true;
    QTest::newRow("sticky") << "folder" << 01700 << false << true;
    QTest::newRow("group may write") << "folder" << 0770 << false << false;
    QTest::newRow("others may write") << "folder" << 0703 << false << false;
    QTest::newRow("another user's") << "foreign" << 0700 << false << false;
    QTest::newRow("link to a private folder") << "link" << 0700 << false << false;
    QTest::newRow("a file") << "file" << 0700 << false << false;
    QTest::newRow("missing") << "missing" << 0700 << false << false;
}

void TestServicePaths::privateFolderRule()
{
    QFETCH(QString, kind);
    QFETCH(int, mode);
    QFETCH(bool, ownerOnly);
    QFETCH(bool, othersRead);
    QTemporaryDir top;
    const QString real = top.filePath("real");
    QVERIFY(QDir().mkdir(real));
    QVERIFY(::chmod(QFile::encodeName(real).constData(), mode_t(mode)) == 0);
    QString path = real;
    if (kind == "foreign") {
        if (::geteuid() != 0)
            QSKIP("needs root to give a folder away");
        QVERIFY(::chown(QFile::encodeName(real).constData(), 65534, 65534) == 0);
    } else if (kind != "folder") {
        path = top.filePath(kind);
        if (kind == "link")
            QVERIFY(QFile::link(real, path));
        if (kind == "file")
            QVERIFY(QFile(path).open(QIODevice::WriteOnly));
    }
    QString reason;
    QCOMPARE(ServicePaths::isPrivateFolder(path, FolderAccess::OwnerOnly, &reason), ownerOnly);
    QCOMPARE(reason.isEmpty(), ownerOnly);
    QCOMPARE(ServicePaths::isPrivateFolder(path, FolderAccess::OthersRead, &reason), othersRead);
}

void TestServicePaths::parentFolderRule_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("foreign");
    QTest::addColumn<bool>("safe");
    QTest::newRow("others may look") << 0755 << false << true;
    QTest::newRow("others may write") << 0777 << false << false;
    QTest::newRow("group may write") << 0775 << false << false;
    // Like /tmp: others may add entries but not move ours.
    QTest::newRow("sticky") << 01777 << false << true;
    QTest::newRow("another user's") << 0755 << true << false;
    QTest::newRow("another user's, sticky") << 01777 << true << false;
}

void TestServicePaths::parentFolderRule()
{
    QFETCH(int, mode);
    QFETCH(bool, foreign);
    QFETCH(bool, safe);
    QTemporaryDir top;
    const QByteArray path = QFile::encodeName(top.path());
    if (foreign && (::geteuid() != 0 || ::chown(path.constData(), 65534, 65534) != 0))
        QSKIP("needs root to give a folder away");
    QCOMPARE(::chmod(path.constData(), mode_t(mode)), 0);
    struct stat info;
    QCOMPARE(::lstat(path.constData(), &info), 0);
    QString reason;
    QCOMPARE(ServicePaths::isSafeParentFolder(info, top.path(), &reason), safe);
    QCOMPARE(reason.isEmpty(), safe);
}

QTEST_GUILESS_MAIN(TestServicePaths)
#include "tst_servicepaths.moc"
