#include "servicelog.h"

#include "servicepaths.h"

#include <QByteArray>
#include <QFile>
#include <QMutex>
#include <QString>
#include <QtGlobal>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr off_t kMaxLogSize = 1024 * 1024;

QtMessageHandler previousHandler = nullptr;
QBasicMutex rotating;

QByteArray logPath()
{
    return QFile::encodeName(ServicePaths::stateDirectory() + QStringLiteral("/service.log"));
}

bool logFull()
{
    struct stat info;
    return ::fstat(STDERR_FILENO, &info) == 0 && S_ISREG(info.st_mode)
        && info.st_size > kMaxLogSize;
}

void reopen(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    ::dup2(fd, STDERR_FILENO);
    ::close(fd);
}

void rotate()
{
    const QByteArray path = logPath();
    ::rename(path.constData(), (path + ".1").constData());
    reopen(path);
}

void handleMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    previousHandler(type, context, message);
    QMutexLocker lock(&rotating);
    if (logFull())
        rotate();
}

} // namespace

namespace ServiceLog {

void open()
{
    reopen(logPath());
    if (logFull())
        rotate();
}

void rotateWhenFull()
{
    previousHandler = qInstallMessageHandler(handleMessage);
}

} // namespace ServiceLog
