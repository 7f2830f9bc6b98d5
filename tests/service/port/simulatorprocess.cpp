#include "simulatorprocess.h"

#include "portfixture.h"

#include <unistd.h>

SimulatorProcess::SimulatorProcess(const QString &ip, int ports)
    : ip(ip)
    , ports(ports)
{
}

SimulatorProcess::~SimulatorProcess()
{
    stop();
}

QString SimulatorProcess::unavailable()
{
    return geteuid() == 0
        ? QString()
        : QStringLiteral("the simulated device serves TCP ports below 1024 (needs root)");
}

bool SimulatorProcess::start()
{
    log.clear();
    process.start(qEnvironmentVariable("TIRV_DEVSIM_EXEC"),
        { QStringLiteral("--protocol"), QStringLiteral("rfc2217"), QStringLiteral("--device"),
            QStringLiteral("ip=%1,ports=%2,answer=text").arg(ip).arg(ports) });
    return process.waitForReadyRead(10000) && process.readLine().startsWith("ready");
}

void SimulatorProcess::stop()
{
    process.kill();
    process.waitForFinished();
}

QStringList SimulatorProcess::commands()
{
    while (process.canReadLine()) {
        const QString line = QString::fromUtf8(process.readLine()).trimmed();
        if (line.startsWith(QLatin1String("comport ")))
            log << line.section(QLatin1Char(' '), 3);
    }
    return log;
}

QStringList SimulatorProcess::until(const QString &last, int from)
{
    waitFor([&] { return commands().mid(from).contains(last); }, 3000);
    return commands().mid(from);
}
