#include "secapi.h"

#include "connectiontable.h"
#include "inprocessservice.h"
#include "serviceclient.h"

namespace {

// The in-process table and the client of the service answer the same calls.
template <typename Call> int dispatch(Call call)
{
    if (InProcessService::isSelected())
        return call(InProcessService::table());
    return call(ServiceClient::instance());
}

} // namespace

int sec_ConnectService(const QVariant &machine)
{
    return dispatch([&](auto &service) { return service.connectService(machine); });
}

int sec_DisconnectService()
{
    return dispatch([](auto &service) { return service.disconnectService(); });
}

int sec_GetConnectionsList(QVariant *list)
{
    return dispatch([&](auto &service) {
        QVariantList handles;
        if (!service.connections(&handles))
            return false;
        *list = handles;
        return true;
    });
}

int sec_CreateConnection(int kind, ConnectionHandle *handle)
{
    return dispatch([&](auto &service) { return service.createConnection(kind, handle); });
}

int sec_SetParam(ConnectionHandle handle, const QVariant &key, const QVariant &value)
{
    return dispatch([&](auto &service) { return service.setParam(handle, key, value); });
}

int sec_GetParam(ConnectionHandle handle, const QVariant &key, QVariant *value)
{
    return dispatch([&](auto &service) { return service.param(handle, key, value); });
}

int sec_AddConnectionService(ConnectionHandle handle)
{
    return dispatch([&](auto &service) { return service.startConnection(handle); });
}

int sec_DeleteConnection(ConnectionHandle handle)
{
    return dispatch([&](auto &service) { return service.deleteConnection(handle); });
}

int sec_ApplyConnection(ConnectionHandle handle)
{
    return dispatch([&](auto &service) { return service.applyConnection(handle); });
}
