#include "refreshtree.h"

#include "secapi.h"
#include "servicekeys.h"

#include <QCoreApplication>
#include <QDebug>
#include <QMutexLocker>

RefreshTree::RefreshTree(std::chrono::milliseconds listingPace)
    : QThread(nullptr)
    , pace(listingPace)
{
    registerRecordMetaTypes();
    // Direct: the operations run in this thread, and their signals must leave it in the same
    // order as msgInfo and the task brackets.
    connect(&ops, &PortOperations::setProgressValue, this, &RefreshTree::setProgressValue,
        Qt::DirectConnection);
    connect(&ops, &PortOperations::hideProgress, this, &RefreshTree::hideProgress,
        Qt::DirectConnection);
    connect(&ops, &PortOperations::removeDev, this, &RefreshTree::removeDev, Qt::DirectConnection);
    connect(&ops, &PortOperations::updateComInfo, this, &RefreshTree::updateComInfo,
        Qt::DirectConnection);
}

RefreshTree::~RefreshTree()
{
    stop();
    wait();
    sec_DisconnectService();
}

quint64 RefreshTree::postCreateDevice(
    int portCount, const QString &devType, const QString &devIp, const QString &devMac)
{
    DevInfo info;
    info.portCount = portCount;
    info.devType = devType;
    info.devIp = devIp;
    info.devMac = devMac;
    return postTask(TaskCreateDevice, info);
}

quint64 RefreshTree::postTask(HidTask task, const DevInfo &info)
{
    if (task < TaskCreateDevice || task > TaskPortSettings) {
        qDebug() << "RefreshTree: dropped a task with code" << int(task);
        return 0;
    }
    QMutexLocker lock(&mutex);
    pending.enqueue({ ++lastTaskId, task, info });
    wakeUp.wakeAll();
    return lastTaskId;
}

void RefreshTree::stop()
{
    QMutexLocker lock(&mutex);
    requestInterruption();
    wakeUp.wakeAll();
}

void RefreshTree::run()
{
    connectService();
    while (!isInterruptionRequested()) {
        PostedTask task;
        if (takeTask(&task))
            runTask(task);
        else if (ops.refreshComInfo())
            followSaveError();
        pause();
    }
}

void RefreshTree::connectService()
{
    if (!sec_ConnectService(QStringLiteral(".")))
        emit msgInfo(QCoreApplication::translate("RefreshTree", "虚拟串口服务初始化失败！"));
}

bool RefreshTree::takeTask(PostedTask *task)
{
    QMutexLocker lock(&mutex);
    if (pending.isEmpty())
        return false;
    *task = pending.dequeue();
    return true;
}

void RefreshTree::runTask(const PostedTask &task)
{
    emit taskStarted(task.id);
    const QString message = runOperation(task.code, task.info);
    if (!message.isEmpty())
        emit msgInfo(message);
    emit taskFinished(task.id);
}

QString RefreshTree::runOperation(HidTask code, const DevInfo &info)
{
    QString message;
    switch (code) {
    case TaskCreateDevice:
        ops.createDevicePorts(info.portCount, info.devType, info.devIp, info.devMac, message);
        break;
    case TaskClearDevice:
        ops.clearDevicePorts(info.devIp, message);
        break;
    case TaskCreatePort:
        ops.createOnePort(
            info.portCount, info.portSeq, info.devType, info.devIp, info.devMac, message);
        break;
    case TaskDeleteCom:
        ops.deleteComPort(info.comName, message);
        break;
    case TaskModifyCom:
        ops.modifyComPort(info.comName, info.newComName, message);
        break;
    case TaskPortSettings:
        ops.setPortConfig(info.comName, info.config, message);
        break;
    case TaskRefresh:
        break;
    }
    return message;
}

void RefreshTree::followSaveError()
{
    const QString error = serviceStatus().value(ServiceKeys::kSaveError).toString();
    if (error == saveError)
        return;
    saveError = error;
    emit saveErrorChanged(error);
}

// A task posted while the loop was busy is in the queue already: no pause before it.
void RefreshTree::pause()
{
    QMutexLocker lock(&mutex);
    if (!isInterruptionRequested() && pending.isEmpty())
        wakeUp.wait(&mutex, static_cast<unsigned long>(pace.count()));
}
