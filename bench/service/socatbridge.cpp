#include "socatbridge.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QThread>

#include <cstdio>
#include <cstdlib>

SocatBridge::SocatBridge(const QString &link, quint16 tcpPort)
    : linkPath(link)
{
    process.start(QStringLiteral("socat"),
        { QStringLiteral("pty,link=%1,raw,echo=0").arg(link),
            QStringLiteral("tcp:127.0.0.1:%1").arg(tcpPort) });
    const QDeadlineTimer deadline(5000);
    bool started = process.waitForStarted();
    while (started && !QFileInfo::exists(link) && !deadline.hasExpired())
        QThread::msleep(2);
    if (!started || !QFileInfo::exists(link)) {
        fprintf(stderr, "socat did not start (apt-get install socat)\n");
        exit(1);
    }
}

SocatBridge::~SocatBridge()
{
    process.terminate();
    if (!process.waitForFinished(5000))
        process.kill();
    process.waitForFinished();
}
