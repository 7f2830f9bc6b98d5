#include "connectionname.h"
#include "records.h"

#include <QtTest>

class TestConnectionName : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void parse_data();
    void parse();
    void recordsStartEmpty();
    void metaTypesRegistered();
};

void TestConnectionName::roundTrip_data()
{
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("type");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("seq");
    QTest::addColumn<QString>("mac");
    QTest::addColumn<QString>("name");

    QTest::newRow("manual port 2") << "192.168.1.200"
                                   << "4Ports" << 4 << 2 << "null"
                                   << "TIR@192.168.1.200@4Ports@4@2@null";
    QTest::newRow("manual port 8") << "10.0.0.7"
                                   << "8Ports" << 8 << 8 << "null"
                                   << "TIR@10.0.0.7@8Ports@8@8@null";
    QTest::newRow("searched") << "10.1.2.3"
                              << "TIR-8E" << 16 << 12 << "00:1A:2B:3C:4D:5E"
                              << "TIR@10.1.2.3@TIR-8E@16@12@00:1A:2B:3C:4D:5E";
    // An empty MAC leaves a trailing "@" and parses back to an empty MAC.
    QTest::newRow("empty mac") << "10.0.0.7"
                               << "2Ports" << 2 << 1 << ""
                               << "TIR@10.0.0.7@2Ports@2@1@";
    // Placeholders inside a value are not substituted a second time.
    QTest::newRow("percent in type") << "10.0.0.7"
                                     << "A%2B" << 1 << 1 << "m"
                                     << "TIR@10.0.0.7@A%2B@1@1@m";
}

void TestConnectionName::roundTrip()
{
    QFETCH(QString, ip);
    QFETCH(QString, type);
    QFETCH(int, count);
    QFETCH(int, seq);
    QFETCH(QString, mac);
    QFETCH(QString, name);

    QCOMPARE(makeConnectionName(ip, type, count, seq, mac), name);
    COMS_INFO record;
    QVERIFY(parseConnectionName(name, record));
    QCOMPARE(record.devIp, ip);
    QCOMPARE(record.devType, type);
    QCOMPARE(record.portCount, count);
    QCOMPARE(record.portSeq, QString::number(seq));
    QCOMPARE(record.devMac, mac);
}

void TestConnectionName::parse_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("ours");
    QTest::addColumn<QStringList>("fields"); // ip, type, count, seq, mac

    QTest::newRow("foreign") << "modem line" << false << QStringList();
    QTest::newRow("lower-case prefix") << "tir@1.2.3.4@x@1@1@m" << false << QStringList();
    QTest::newRow("prefix only") << "TIR" << true << QStringList { "", "", "0", "", "" };
    QTest::newRow("three parts") << "TIR@10.0.0.7@4Ports" << true
                                 << QStringList { "10.0.0.7", "4Ports", "0", "", "" };
    QTest::newRow("TIR inside") << "xTIRx@a@b@c@d@e" << true
                                << QStringList { "a", "b", "0", "d", "e" };
    QTest::newRow("extra parts") << "TIR@1.1.1.1@T@2@1@M@junk" << true
                                 << QStringList { "1.1.1.1", "T", "2", "1", "M" };
}

void TestConnectionName::parse()
{
    QFETCH(QString, name);
    QFETCH(bool, ours);
    QFETCH(QStringList, fields);

    COMS_INFO record;
    record.comName = QStringLiteral("COM9");
    QCOMPARE(parseConnectionName(name, record), ours);
    if (!ours) {
        QVERIFY(record.devIp.isEmpty());
        return;
    }
    QCOMPARE(record.devIp, fields.at(0));
    QCOMPARE(record.devType, fields.at(1));
    QCOMPARE(QString::number(record.portCount), fields.at(2));
    QCOMPARE(record.portSeq, fields.at(3));
    QCOMPARE(record.devMac, fields.at(4));
    QCOMPARE(record.comName, QStringLiteral("COM9"));
}

void TestConnectionName::recordsStartEmpty()
{
    const DevInfo info;
    QCOMPARE(info.portCount, 0);
    QCOMPARE(info.portSeq, 0);
    QVERIFY(info.devType.isEmpty() && info.devIp.isEmpty() && info.devMac.isEmpty());
    QVERIFY(info.comName.isEmpty() && info.newComName.isEmpty());
    QCOMPARE(int(TaskRefresh), 0);
    QCOMPARE(int(TaskModifyCom), 5);
}

void TestConnectionName::metaTypesRegistered()
{
    registerRecordMetaTypes();
    QVERIFY(QMetaType::type("QList<COMS_INFO>") != QMetaType::UnknownType);
    QVERIFY(QMetaType::type("QPair<HidTask, DevInfo>") != QMetaType::UnknownType);
}

QTEST_GUILESS_MAIN(TestConnectionName)
#include "tst_connectionname.moc"
