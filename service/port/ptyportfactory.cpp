#include "ptyportfactory.h"

#include "openwatcher.h"
#include "virtualport.h"

PtyPortFactory::PtyPortFactory()
    : watcher(std::make_shared<OpenWatcher>())
{
}

PtyPortFactory::~PtyPortFactory() = default;

std::unique_ptr<ConnectionPort> PtyPortFactory::makePort(const QVariantMap &params, QString *reason)
{
    PortSettings settings;
    if (!PortSettings::fromParams(params, &settings, reason))
        return nullptr;
    if (!directory.open(reason))
        return nullptr;
    auto port = std::make_unique<VirtualPort>(settings, watcher);
    if (!port->start(directory, reason))
        return nullptr;
    return port;
}
