#include "ptyportfactory.h"

#include "openwatcher.h"
#include "portlink.h"
#include "virtualport.h"

#include <QDebug>
#include <QFileInfo>

PtyPortFactory::PtyPortFactory()
    : watcher(std::make_shared<OpenWatcher>())
{
}

PtyPortFactory::~PtyPortFactory() = default;

std::unique_ptr<ConnectionPort> PtyPortFactory::makePort(const QVariantMap &params, QString *reason)
{
    BridgeSettings settings;
    if (!BridgeSettings::fromParams(params, &settings, reason))
        return nullptr;
    if (!directory.open(reason))
        return nullptr;
    serveLines();
    auto port = std::make_unique<VirtualPort>(settings, watcher, &lineChannel);
    if (!port->start(directory, reason))
        return nullptr;
    return port;
}

void PtyPortFactory::removeStaleLinks()
{
    if (!QFileInfo::exists(directory.path()))
        return;
    QString reason;
    if (!directory.open(&reason)) {
        qWarning().noquote() << reason;
        return;
    }
    PortLink::removeStale(directory);
}

// Tried once: without the channel the ports work as before, only tirv-run gets nothing more.
void PtyPortFactory::serveLines()
{
    if (lineChannelTried)
        return;
    lineChannelTried = true;
    QString reason;
    if (!lineChannel.listen(directory, &reason))
        qWarning().noquote() << reason << "- programs started by tirv-run get the pty's answers";
}
