#pragma once

#include "connectionport.h"
#include "connectiontable.h"
#include "faultinjector.h"
#include "inprocessservice.h"
#include "portfactory.h"
#include "secapi.h"

#include <QVariant>

#include <memory>

// The in-process service, emptied between tests, and shortcuts for setting up connections.
namespace ServiceFixture {

inline ConnectionTable &table()
{
    return InProcessService::table();
}

inline FaultInjector &faults()
{
    return InProcessService::faults();
}

inline QList<ConnectionHandle> handles()
{
    QVariant list;
    sec_GetConnectionsList(&list);
    QList<ConnectionHandle> result;
    const QVariantList elements = list.toList();
    for (const QVariant &element : elements)
        result.append(element.toInt());
    return result;
}

inline void reset()
{
    faults().clearFaults();
    table().setPortFactory(nullptr);
    const QList<ConnectionHandle> all = handles();
    for (ConnectionHandle handle : all)
        sec_DeleteConnection(handle);
}

inline QVariant param(ConnectionHandle handle, const QString &key)
{
    QVariant value;
    sec_GetParam(handle, key, &value);
    return value;
}

inline QStringList params(const QString &key)
{
    QStringList result;
    const QList<ConnectionHandle> all = handles();
    for (ConnectionHandle handle : all)
        result.append(param(handle, key).toString());
    return result;
}

// A connection as another program (or an earlier run) left it; started when asked.
inline ConnectionHandle addConnection(const QString &name, const QString &comName,
    bool start = true, const QString &host = "10.9.9.9")
{
    ConnectionHandle handle = -1;
    sec_CreateConnection(1, &handle);
    if (!name.isEmpty())
        sec_SetParam(handle, QStringLiteral("name"), name);
    sec_SetParam(handle, QStringLiteral("port.name"), comName);
    sec_SetParam(handle, QStringLiteral("network.host"),
        QVariantList { QVariant(QVariantList { host, QStringLiteral("966") }) });
    if (start)
        sec_AddConnectionService(handle);
    return handle;
}

// Working ports whose state and remote hosts the test chooses.
class FakePort : public ConnectionPort
{
public:
    FakePort(int state, QVariantList hosts, QVariantMap line)
        : portState(state)
        , hosts(std::move(hosts))
        , line(std::move(line))
    {
    }
    int state() const override { return portState; }
    QVariantList remoteHosts() const override { return hosts; }
    quint64 statusKey() const override { return 0; } // all fixed at construction
    quint64 countersKey() const override { return 0; }
    bool rename(const QString &, QString *) override { return true; }
    bool reconfigure(const QVariantMap &) override { return true; }
    QVariantMap lineStatus() const override { return line; }
    QVariantMap reason() const override { return why; }
    QVariantMap counters() const override { return counts; }

    QVariantMap why;
    QVariantMap counts;

private:
    int portState;
    QVariantList hosts;
    QVariantMap line;
};

class FakePortFactory : public PortFactory
{
public:
    int state = 1;
    QVariantList hosts;
    QVariantMap line;

    QVariantMap reason;
    QVariantMap counters;

    std::unique_ptr<ConnectionPort> makePort(const QVariantMap &, QString *) override
    {
        auto port = std::make_unique<FakePort>(state, hosts, line);
        port->why = reason;
        port->counts = counters;
        return port;
    }
};

} // namespace ServiceFixture
