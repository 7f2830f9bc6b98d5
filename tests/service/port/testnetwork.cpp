#include "testnetwork.h"

#include <QProcess>
#include <QStandardPaths>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace {

int openOwnNamespace()
{
    return open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
}

} // namespace

TestNetwork::TestNetwork()
{
    if (geteuid() != 0)
        return;
    home = openOwnNamespace();
    if (home < 0 || unshare(CLONE_NEWNET) != 0)
        return;
    deviceSide = openOwnNamespace();
    if (unshare(CLONE_NEWNET) == 0)
        pcSide = openOwnNamespace();
    ready = deviceSide >= 0 && pcSide >= 0 && build();
    if (!ready)
        setns(home, CLONE_NEWNET);
}

TestNetwork::~TestNetwork()
{
    if (deviceSide >= 0 || pcSide >= 0)
        setns(home, CLONE_NEWNET);
    for (const int fd : { home, pcSide, deviceSide })
        if (fd >= 0)
            close(fd);
}

bool TestNetwork::build()
{
    const QString peerSide = QStringLiteral("/proc/%1/fd/%2").arg(getpid()).arg(deviceSide);
    bool built = ip(QStringLiteral("link set lo up"))
        && ip(QStringLiteral("link add tvp type veth peer name tvd netns ") + peerSide)
        && ip(QStringLiteral("addr add 10.77.0.1/24 dev tvp"))
        && ip(QStringLiteral("link set tvp up"));
    onDeviceSide([&] {
        built = built && ip(QStringLiteral("addr add %1/24 dev tvd").arg(deviceAddress()));
    });
    return built && setDeviceLinkUp(true);
}

bool TestNetwork::setDeviceLinkUp(bool up)
{
    bool done = false;
    onDeviceSide([&] {
        done = ip(
            QStringLiteral("link set tvd ") + (up ? QStringLiteral("up") : QStringLiteral("down")));
    });
    return done;
}

void TestNetwork::onDeviceSide(const std::function<void()> &work)
{
    if (setns(deviceSide, CLONE_NEWNET) != 0)
        return;
    work();
    setns(pcSide, CLONE_NEWNET);
}

// The ip tool runs in the namespace of the thread that starts it.
bool TestNetwork::ip(const QString &command)
{
    static const QString tool = QStandardPaths::findExecutable(QStringLiteral("ip"),
        { QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"), QStringLiteral("/usr/bin") });
    return !tool.isEmpty() && QProcess::execute(tool, command.split(QLatin1Char(' '))) == 0;
}
