#pragma once

#include "connectiontable.h"
#include "epolldispatcher.h"
#include "ptyportfactory.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QTimer>

#include <functional>
#include <memory>

// How a test port moves bytes: the "protocol.portopencondition.enable" and send-mode values,
// and the device's host as typed.
struct PortOptions
{
    int openCondition = 0;
    int sendMode = 0;
    int sendParam = 0;
    QString host = QStringLiteral("127.0.0.1");
    QString protocol = QStringLiteral("RAW");
    // Further parameters, such as the line's data bits and parity.
    QVariantMap extra = {};
};

// A connection table with the real pty ports, as the service holds it, in the test's process.
class PortFixture
{
public:
    PortFixture() { table->setPortFactory(factory.get()); }
    ~PortFixture() { table.reset(); }

    static QString portDir() { return qEnvironmentVariable("TIRV_PORT_DIR"); }
    static QString linkPath(const QString &comName)
    {
        return portDir() + QLatin1Char('/') + comName;
    }

    // Creates and starts a connection to tcpPort on the options' host; the handle, or -1 if it
    // failed to start (the connection then stays, in state 0).
    ConnectionHandle startPort(const QString &comName, quint16 tcpPort, PortOptions options = {})
    {
        ConnectionHandle handle = -1;
        table->createConnection(1, &handle);
        const QVariantList hosts { QVariant(
            QVariantList { options.host, QString::number(tcpPort) }) };
        table->setParam(handle, QStringLiteral("port.name"), comName);
        table->setParam(handle, QStringLiteral("network.host"), hosts);
        table->setParam(handle, QStringLiteral("port.sendmode.mode"), options.sendMode);
        table->setParam(handle, QStringLiteral("port.sendmode.param"), options.sendParam);
        table->setParam(
            handle, QStringLiteral("protocol.portopencondition.enable"), options.openCondition);
        table->setParam(handle, QStringLiteral("protocol.type"), options.protocol);
        for (auto it = options.extra.cbegin(); it != options.extra.cend(); ++it)
            table->setParam(handle, it.key(), it.value());
        lastHandle = handle;
        return table->startConnection(handle) ? handle : -1;
    }

    int state(ConnectionHandle handle) const
    {
        QVariant value;
        table->param(handle, QStringLiteral("status.port.state"), &value);
        return value.toInt();
    }

    // Element 2 of the first remote-host entry: "1" while TCP is up.
    QString remoteUp(ConnectionHandle handle) const
    {
        return remoteHost(handle).value(2).toString();
    }

    QVariantMap lineStatus(ConnectionHandle handle) const
    {
        QVariant value;
        table->param(handle, QStringLiteral("status.line"), &value);
        return value.toMap();
    }

    // The first remote-host entry: host, TCP port, up.
    QVariantList remoteHost(ConnectionHandle handle) const
    {
        QVariant value;
        table->param(handle, QStringLiteral("status.remotehost"), &value);
        return value.toList().value(0).toList();
    }

    std::unique_ptr<PtyPortFactory> factory = std::make_unique<PtyPortFactory>();
    std::unique_ptr<ConnectionTable> table = std::make_unique<ConnectionTable>();
    ConnectionHandle lastHandle = -1;
};

// Runs the event loop until done() holds or ms pass; sleeps in the loop, never spins.
inline bool waitFor(const std::function<bool()> &done, int ms = 5000)
{
    QDeadlineTimer deadline(ms);
    QTimer wake;
    wake.start(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

inline int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).count());
}

// The test's main(): the ports run on the service's own event loop, as in tirv-service.
#define PORT_TEST_MAIN(TestObject)                                                                 \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        QCoreApplication::setEventDispatcher(new EpollDispatcher);                                 \
        QCoreApplication app(argc, argv);                                                          \
        TestObject test;                                                                           \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
