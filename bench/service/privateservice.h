#pragma once

#include "secapi.h"

#include <QString>
#include <QTemporaryDir>

// A tirv-service of a benchmark's own: HOME, the XDG folders and the port directory lie in a
// temporary folder, set when this is made, before anything reads them. The program is
// TIRV_SERVICE_EXEC when set, else the one of this build. It runs until stop() or the end.
class PrivateService
{
public:
    PrivateService();
    ~PrivateService();
    PrivateService(const PrivateService &) = delete;
    PrivateService &operator=(const PrivateService &) = delete;

    // Starts it through the first call, as the window does; false when it did not come.
    bool start();
    void stop();
    qint64 pid() const { return servicePid; }

    // A port to host:tcpPort that connects at once, or only while a program has it open, with
    // further parameters (send mode, protocol, ...); its handle, or -1 when the service
    // refused it.
    static ConnectionHandle addPort(const QString &comName, const QString &host, int tcpPort,
        bool whileOpen = false, const QVariantMap &params = {});
    static QString linkPath(const QString &comName);

private:
    QTemporaryDir root;
    qint64 servicePid = 0;
};
