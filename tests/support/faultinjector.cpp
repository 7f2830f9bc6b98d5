#include "faultinjector.h"

#include <QMutexLocker>

FaultInjector::FaultInjector(ConnectionService &service)
    : service(service)
{
}

void FaultInjector::failCall(Call call, int skip, int times)
{
    QMutexLocker lock(&mutex);
    faults.append({ call, skip, times });
}

void FaultInjector::clearFaults()
{
    QMutexLocker lock(&mutex);
    faults.clear();
}

bool FaultInjector::fails(Call call)
{
    QMutexLocker lock(&mutex);
    for (int i = 0; i < faults.size(); ++i) {
        Fault &fault = faults[i];
        if (fault.call != call)
            continue;
        if (fault.skip > 0) {
            --fault.skip;
            return false;
        }
        if (fault.times > 0 && --fault.times == 0)
            faults.removeAt(i);
        setFailureReason(QString());
        return true;
    }
    return false;
}

bool FaultInjector::connectService(const QVariant &machine)
{
    return !fails(ConnectService) && service.connectService(machine);
}

bool FaultInjector::disconnectService()
{
    return !fails(DisconnectService) && service.disconnectService();
}

bool FaultInjector::connections(QVariantList *handles)
{
    return !fails(GetConnectionsList) && service.connections(handles);
}

bool FaultInjector::createConnection(int kind, ConnectionHandle *handle)
{
    return !fails(CreateConnection) && service.createConnection(kind, handle);
}

bool FaultInjector::setParam(ConnectionHandle handle, const QVariant &key, const QVariant &value)
{
    return !fails(SetParam) && service.setParam(handle, key, value);
}

bool FaultInjector::param(ConnectionHandle handle, const QVariant &key, QVariant *value)
{
    return !fails(GetParam) && service.param(handle, key, value);
}

bool FaultInjector::startConnection(ConnectionHandle handle)
{
    return !fails(AddConnectionService) && service.startConnection(handle);
}

bool FaultInjector::deleteConnection(ConnectionHandle handle)
{
    return !fails(DeleteConnection) && service.deleteConnection(handle);
}

bool FaultInjector::applyConnection(ConnectionHandle handle)
{
    return !fails(ApplyConnection) && service.applyConnection(handle);
}

QVariantMap FaultInjector::serviceStatus()
{
    return service.serviceStatus();
}
