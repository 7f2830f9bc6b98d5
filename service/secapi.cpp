#include "secapi.h"

#include "connectiontable.h"
#include "inprocessservice.h"

namespace {

ConnectionTable &service() { return InProcessService::table(); }

} // namespace

int sec_ConnectService(const QVariant &machine) { return service().connectService(machine); }

int sec_DisconnectService()
{
    service().disconnectService();
    return 1;
}

int sec_GetConnectionsList(QVariant *list)
{
    QVariantList handles;
    if (!service().connections(&handles))
        return 0;
    *list = handles;
    return 1;
}

int sec_CreateConnection(int kind, ConnectionHandle *handle)
{
    return service().createConnection(kind, handle);
}

int sec_SetParam(ConnectionHandle handle, const QVariant &key, const QVariant &value)
{
    return service().setParam(handle, key, value);
}

int sec_GetParam(ConnectionHandle handle, const QVariant &key, QVariant *value)
{
    return service().param(handle, key, value);
}

int sec_AddConnectionService(ConnectionHandle handle)
{
    return service().startConnection(handle);
}

int sec_DeleteConnection(ConnectionHandle handle) { return service().deleteConnection(handle); }

int sec_ApplyConnection(ConnectionHandle handle) { return service().applyConnection(handle); }
