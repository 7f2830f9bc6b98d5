#include "secapi.h"

#include "serviceclient.h"

#include <QDebug>

#include <cstdlib>
#include <cstring>

namespace {

// Set before main() by the registration of a test program, read by every call after.
ConnectionService &(*inProcessInstance)() = nullptr;

// Asked at every call, so kept free of allocations.
bool inProcessSelected()
{
    const char *selected = ::getenv("TIRV_SERVICE");
    return selected && strcmp(selected, "inprocess") == 0;
}

ConnectionService *selectedService()
{
    if (!inProcessSelected())
        return &ServiceClient::instance();
    if (inProcessInstance)
        return &inProcessInstance();
    static const bool told = (qWarning() << "TIRV_SERVICE=inprocess, but this program holds no"
                                         << "connection table of its own; every call fails",
        true);
    Q_UNUSED(told)
    return nullptr;
}

template <typename Call> int dispatch(Call call)
{
    ConnectionService *service = selectedService();
    if (!service) {
        ConnectionService::setFailureReason(
            QStringLiteral("this program holds no connection table of its own"));
        return 0;
    }
    return call(*service);
}

} // namespace

void setInProcessService(ConnectionService &(*instance)())
{
    inProcessInstance = instance;
}

QVariantMap serviceStatus()
{
    ConnectionService *service = selectedService();
    return service ? service->serviceStatus() : QVariantMap();
}

quint64 listingGeneration()
{
    ConnectionService *service = selectedService();
    return service ? service->listingGeneration() : 0;
}

QString serviceFailureReason()
{
    return ConnectionService::failureReason();
}

int sec_ConnectService(const QVariant &machine)
{
    return dispatch([&](ConnectionService &service) { return service.connectService(machine); });
}

int sec_DisconnectService()
{
    return dispatch([](ConnectionService &service) { return service.disconnectService(); });
}

int sec_GetConnectionsList(QVariant *list)
{
    return dispatch([&](ConnectionService &service) {
        QVariantList handles;
        if (!service.connections(&handles))
            return false;
        *list = handles;
        return true;
    });
}

int sec_CreateConnection(int kind, ConnectionHandle *handle)
{
    return dispatch(
        [&](ConnectionService &service) { return service.createConnection(kind, handle); });
}

int sec_SetParam(ConnectionHandle handle, const QVariant &key, const QVariant &value)
{
    return dispatch(
        [&](ConnectionService &service) { return service.setParam(handle, key, value); });
}

int sec_GetParam(ConnectionHandle handle, const QVariant &key, QVariant *value)
{
    return dispatch([&](ConnectionService &service) { return service.param(handle, key, value); });
}

int sec_AddConnectionService(ConnectionHandle handle)
{
    return dispatch([&](ConnectionService &service) { return service.startConnection(handle); });
}

int sec_DeleteConnection(ConnectionHandle handle)
{
    return dispatch([&](ConnectionService &service) { return service.deleteConnection(handle); });
}

int sec_ApplyConnection(ConnectionHandle handle)
{
    return dispatch([&](ConnectionService &service) { return service.applyConnection(handle); });
}
