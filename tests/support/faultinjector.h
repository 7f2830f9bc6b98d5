#pragma once

#include "connectionservice.h"

#include <QList>
#include <QMutex>

// A connection service whose calls the test makes fail on demand, without a reason; every other
// call passes to the wrapped service.
class FaultInjector : public ConnectionService
{
public:
    explicit FaultInjector(ConnectionService &service);

    // The (skip + 1)-th next call of that kind fails, `times` times in a row (times < 0: for
    // ever).
    void failCall(Call call, int skip = 0, int times = 1);
    void clearFaults();

    bool connectService(const QVariant &machine) override;
    bool disconnectService() override;
    bool connections(QVariantList *handles) override;
    bool createConnection(int kind, ConnectionHandle *handle) override;
    bool setParam(ConnectionHandle handle, const QVariant &key, const QVariant &value) override;
    bool param(ConnectionHandle handle, const QVariant &key, QVariant *value) override;
    bool startConnection(ConnectionHandle handle) override;
    bool deleteConnection(ConnectionHandle handle) override;
    bool applyConnection(ConnectionHandle handle) override;
    QVariantMap serviceStatus() override;

private:
    struct Fault
    {
        Call call;
        int skip;
        int times;
    };

    bool fails(Call call);

    ConnectionService &service;
    QMutex mutex;
    QList<Fault> faults;
};
