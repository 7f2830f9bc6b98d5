#pragma once

#include "linechannel.h"
#include "portdirectory.h"
#include "portfactory.h"

#include <memory>

class OpenWatcher;

// Makes the working ports of the real service: pseudo-terminals bridged to TCP. The ports run
// on the event loop of the thread that calls makePort().
class PtyPortFactory : public PortFactory
{
public:
    PtyPortFactory();
    ~PtyPortFactory() override;

    std::unique_ptr<ConnectionPort> makePort(const QVariantMap &params, QString *reason) override;
    // Once the saved ports are back: the links of ports a crashed service had and this one
    // does not bring back would lead to ptys that may be another program's by now.
    void removeStaleLinks();

private:
    void serveLines();

    std::shared_ptr<OpenWatcher> watcher;
    // Opened at the first port that starts, then kept for every port.
    PortDirectory directory;
    // In the directory, from the first port on; ends before it.
    LineChannel lineChannel;
    bool lineChannelTried = false;
};
