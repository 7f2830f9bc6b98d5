#include "privateservice.h"

#include "servicekeys.h"
#include "servicepaths.h"
#include "serviceprotocol.h"

#include <QDir>
#include <QFile>
#include <QThread>

#include <signal.h>

namespace {

// The service writes its pid into the lock it holds.
qint64 lockHolder()
{
    QString error;
    QFile lock(ServicePaths::lockPath(ServicePaths::runtimeDirectory(&error)));
    return lock.open(QIODevice::ReadOnly) ? ServiceProtocol::pidInLock(lock.readAll()) : 0;
}

bool isRunning(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    return stat.open(QIODevice::ReadOnly) && !stat.readAll().contains(") Z ");
}

} // namespace

PrivateService::PrivateService()
{
    const QDir dir(root.path());
    for (const char *name : { "home", "runtime", "state", "ports" }) {
        dir.mkdir(QLatin1String(name));
        QFile::setPermissions(dir.filePath(QLatin1String(name)),
            QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    qputenv("HOME", QFile::encodeName(dir.filePath(QStringLiteral("home"))));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath(QStringLiteral("home/.config"))));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.filePath(QStringLiteral("runtime"))));
    qputenv("XDG_STATE_HOME", QFile::encodeName(dir.filePath(QStringLiteral("state"))));
    qputenv("TIRV_PORT_DIR", QFile::encodeName(dir.filePath(QStringLiteral("ports"))));
    qunsetenv("TIRV_SERVICE");
    if (qEnvironmentVariableIsEmpty("TIRV_SERVICE_EXEC"))
        qputenv("TIRV_SERVICE_EXEC", TIRV_SERVICE_BINARY);
}

PrivateService::~PrivateService()
{
    stop();
}

bool PrivateService::start()
{
    if (!sec_ConnectService(QStringLiteral(".")))
        return false;
    servicePid = lockHolder();
    return servicePid > 0;
}

void PrivateService::stop()
{
    if (servicePid <= 0)
        return;
    sec_DisconnectService();
    kill(pid_t(servicePid), SIGTERM);
    for (int i = 0; i < 500 && isRunning(servicePid); ++i)
        QThread::msleep(10);
    if (isRunning(servicePid))
        kill(pid_t(servicePid), SIGKILL);
    servicePid = 0;
}

ConnectionHandle PrivateService::addPort(const QString &comName, const QString &host, int tcpPort,
    bool whileOpen, const QVariantMap &params)
{
    ConnectionHandle handle = -1;
    const QVariantList hosts { QVariant(QVariantList { host, QString::number(tcpPort) }) };
    if (!sec_CreateConnection(1, &handle) || !sec_SetParam(handle, ServiceKeys::kPortName, comName)
        || !sec_SetParam(handle, ServiceKeys::kNetworkHost, hosts)
        || !sec_SetParam(handle, ServiceKeys::kOpenCondition, whileOpen ? 1 : 0))
        return -1;
    for (auto it = params.cbegin(); it != params.cend(); ++it)
        if (!sec_SetParam(handle, it.key(), it.value()))
            return -1;
    return sec_AddConnectionService(handle) ? handle : -1;
}

QString PrivateService::linkPath(const QString &comName)
{
    return qEnvironmentVariable("TIRV_PORT_DIR") + QLatin1Char('/') + comName;
}
