#pragma once

#include <QList>
#include <QMetaType>
#include <QPair>
#include <QString>

// Task codes of the worker's queue; the values are fixed.
enum HidTask : qint32 {
    TaskRefresh = 0,
    TaskCreateDevice = 1,
    TaskClearDevice = 2,
    TaskCreatePort = 3,
    TaskDeleteCom = 4,
    TaskModifyCom = 5,
};

// One network device, and at the same time the arguments of a task.
struct DevInfo
{
    qint32 portCount = 0;
    qint32 portSeq = 0;
    QString devType;
    QString devIp;
    QString devMac;
    QString comName;
    QString newComName;
};

// One virtual port as the worker found it in the connection service.
struct COMS_INFO
{
    qint32 portCount = 0;
    QString devType;
    QString devIp;
    QString portSeq;
    QString devMac;
    QString comName;
    QString comState;

    bool operator==(const COMS_INFO &other) const;
};

using TaskPair = QPair<HidTask, DevInfo>;

Q_DECLARE_METATYPE(DevInfo)
Q_DECLARE_METATYPE(COMS_INFO)
Q_DECLARE_METATYPE(TaskPair)

// Registers "QList<COMS_INFO>" and "QPair<HidTask, DevInfo>" for queued signals.
void registerRecordMetaTypes();
