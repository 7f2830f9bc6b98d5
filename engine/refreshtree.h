#pragma once

#include "portoperations.h"
#include "records.h"

#include <QMutex>
#include <QQueue>
#include <QThread>
#include <QWaitCondition>

#include <chrono>

// The worker thread, the only thread that talks to the connection service. Idle, it lists the
// virtual ports at its pace, every 100 ms (updateComInfo); a posted task starts at once, and
// tasks run one by one in posting order.
// Every signal a task causes is emitted between taskStarted(id) and taskFinished(id) of that
// task, so a receiver can tell which task a progress signal belongs to.
class RefreshTree : public QThread
{
    Q_OBJECT

public:
    explicit RefreshTree(std::chrono::milliseconds listingPace = std::chrono::milliseconds(100));
    ~RefreshTree() override;

    // Thread-safe; return the id of the queued task (0 when the task was dropped).
    quint64 postCreateDevice(
        int portCount, const QString &devType, const QString &devIp, const QString &devMac);
    quint64 postTask(HidTask task, const DevInfo &info);

    // Ends the loop at the next cycle, without waiting out the current pause.
    void stop();

signals:
    void setProgressValue(int value);
    void hideProgress();
    void removeDev(QString ip);
    void msgInfo(QString message);
    void updateComInfo(QList<COMS_INFO> comsInfo);
    void taskStarted(quint64 taskId);
    void taskFinished(quint64 taskId);
    // The service began or stopped failing to save its changes; error is empty once it saves.
    void saveErrorChanged(QString error);

protected:
    void run() override;

private:
    struct PostedTask
    {
        quint64 id = 0;
        HidTask code = TaskRefresh;
        DevInfo info;
    };

    void connectService();
    bool takeTask(PostedTask *task);
    void runTask(const PostedTask &task);
    void followSaveError();
    QString runOperation(HidTask code, const DevInfo &info);
    void pause();

    const std::chrono::milliseconds pace;
    PortOperations ops;
    QMutex mutex;
    QWaitCondition wakeUp;
    QQueue<PostedTask> pending;
    quint64 lastTaskId = 0;
    // What the last listing said of saving.
    QString saveError;
};
