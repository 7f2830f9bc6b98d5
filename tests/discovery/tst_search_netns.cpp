// End to end, inside the namespace test bed only: the search dialog's real sockets find the
// simulated devices on the device side of a veth pair, and the simulator serves its ports.
#include "getdevice.h"

#include <QProcess>
#include <QTableWidget>
#include <QTcpSocket>
#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

QMap<QString, QStringList> rowsByMac(const QTableWidget *table)
{
    QMap<QString, QStringList> rows;
    for (int row = 0; row < table->rowCount(); ++row) {
        rows.insert(table->item(row, 3)->text(),
            { table->item(row, 1)->text(), table->item(row, 2)->text(),
                table->item(row, 4)->text() });
    }
    return rows;
}

} // namespace

class TestSearchNetns : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void searchFindsSimulatedDevices();
    void ptyCarriesBytesBothWays();
};

void TestSearchNetns::initTestCase()
{
    if (qgetenv("TIRV_TESTBED") != "1")
        QSKIP(
            "the search broadcasts: it runs only inside the namespace test bed, which needs root");
}

void TestSearchNetns::searchFindsSimulatedDevices()
{
    GetDevice dialog;
    dialog.show();
    const auto *table = dialog.findChild<QTableWidget *>("tableWidget");
    const QMap<QString, QStringList> expected = {
        // Answers the text request.
        { "00:1A:2B:3C:4D:5E", { "TIR-8", "8", "10.77.0.2" } },
        // Answers the probes: ACK1 makes the row, ACK2 completes it.
        { "02:00:00:00:00:B1", { "TIR-2", "2", "10.77.0.3" } },
        // Reports a bogus IP text and an "@" in its type: cleaned, the sender address stands in.
        { "02:00:00:00:00:C1", { "BadType", "1", "10.77.0.3" } },
        // Set to another network, answers both by broadcast.
        { "02:00:00:00:00:F1", { "TIR-4", "4", "10.99.0.9" } },
    };
    QTRY_COMPARE_WITH_TIMEOUT(rowsByMac(table), expected, 15000);
}

void TestSearchNetns::ptyCarriesBytesBothWays()
{
    QProcess simulator;
    simulator.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    simulator.start(TIRV_DEVSIM, { "--pty", "--device", "ip=127.0.0.1,ports=1,answer=text" });
    QString ptyPath;
    bool ready = false;
    while (!ready && (simulator.canReadLine() || simulator.waitForReadyRead(5000))) {
        const QString line = QString::fromLocal8Bit(simulator.readLine()).trimmed();
        if (line.startsWith("pty 127.0.0.1 1 "))
            ptyPath = line.section(' ', 3);
        ready = line == "ready";
    }
    QVERIFY(ready && !ptyPath.isEmpty());
    const int line = ::open(ptyPath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(line >= 0);

    QTcpSocket client;
    client.connectToHost("127.0.0.1", 966);
    QVERIFY(client.waitForConnected(5000));
    client.write("ping");
    QVERIFY(client.waitForBytesWritten(5000));
    pollfd readable = { line, POLLIN, 0 };
    QCOMPARE(::poll(&readable, 1, 5000), 1);
    QByteArray fromNetwork(4, '\0');
    QCOMPARE(::read(line, fromNetwork.data(), 4), ssize_t(4));
    QCOMPARE(fromNetwork, QByteArray("ping"));

    QCOMPARE(::write(line, "pong", 4), ssize_t(4));
    QTRY_COMPARE(client.bytesAvailable(), qint64(4));
    QCOMPARE(client.readAll(), QByteArray("pong"));
    ::close(line);
    simulator.terminate();
    QVERIFY(simulator.waitForFinished(5000));
}

QTEST_MAIN(TestSearchNetns)
#include "tst_search_netns.moc"
