#include "portlisting.h"

#include "ipv4address.h"
#include "serviceparams.h"

#include <QCoreApplication>

#include <algorithm>

PortListing::PortListing(
    const QList<COMS_INFO> &ports, const QString &portDirectory, const QString &saveError)
    : directory(portDirectory)
    , notSavedBecause(saveError)
{
    for (const COMS_INFO &info : ports) {
        auto owner = std::find_if(deviceList.begin(), deviceList.end(),
            [&](const ListedDevice &d) { return d.ip == info.devIp; });
        if (owner == deviceList.end()) {
            deviceList.append({ info.devIp, info.devType, info.portCount, info.devMac, {} });
            owner = deviceList.end() - 1;
        }
        owner->ports.append(listedPort(info));
    }
}

const ListedDevice *PortListing::device(const QString &ip) const
{
    for (const ListedDevice &d : deviceList) {
        if (Ipv4Address::isSameAddress(d.ip, ip))
            return &d;
    }
    return nullptr;
}

bool PortListing::hasComName(const QString &comName) const
{
    return comNames().contains(comName);
}

const ListedPort *PortListing::port(const QString &comName) const
{
    for (const ListedDevice &d : deviceList) {
        for (const ListedPort &p : d.ports) {
            if (p.comName == comName)
                return &p;
        }
    }
    return nullptr;
}

QStringList PortListing::comNames() const
{
    QStringList names;
    for (const ListedDevice &d : deviceList) {
        for (const ListedPort &port : d.ports)
            names.append(port.comName);
    }
    return names;
}

PortListing PortListing::deviceOnly(const QString &ip) const
{
    PortListing result;
    result.directory = directory;
    result.notSavedBecause = notSavedBecause;
    if (const ListedDevice *d = device(ip))
        result.deviceList.append(*d);
    return result;
}

QString PortListing::stateKey(const QString &state)
{
    // The worker translates these source texts in this context at every listing.
    static const struct
    {
        const char *source;
        const char *key;
    } states[] = {
        { "串口错误", "error" },
        { "串口关闭", "closed" },
        { "串口打开", "open" },
        { "已连接", "connected" },
        { "未连接", "disconnected" },
    };
    if (state.isEmpty())
        return QString();
    for (const auto &s : states) {
        if (state == QCoreApplication::translate("RefreshTree", s.source))
            return QLatin1String(s.key);
    }
    return QString();
}

ListedPort PortListing::listedPort(const COMS_INFO &info) const
{
    ListedPort port;
    port.comName = info.comName;
    port.link = info.link;
    port.devicePort = info.devicePort();
    if (port.devicePort) {
        port.tcpHost = info.devIp;
        port.tcpPort = deviceTcpPort(port.devicePort);
        port.target = info.deviceTarget();
    }
    port.state = info.comState;
    port.stateKey = stateKey(info.comState);
    port.config = info.config;
    port.line = info.line;
    port.report = info.report;
    return port;
}
