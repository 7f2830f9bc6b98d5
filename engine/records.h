#pragma once

#include "portconfig.h"
#include "portreport.h"

#include <QList>
#include <QMetaType>
#include <QPair>
#include <QString>
#include <QVariantMap>

// Task codes of the worker's queue; the values are fixed.
enum HidTask : qint32 {
    TaskRefresh = 0,
    TaskCreateDevice = 1,
    TaskClearDevice = 2,
    TaskCreatePort = 3,
    TaskDeleteCom = 4,
    TaskModifyCom = 5,
    TaskPortSettings = 6,
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
    // TaskPortSettings: what the port comName is to have.
    PortConfig config;
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
    PortConfig config;
    // A working port's line ("status.line"): for RFC 2217 what it asked, what the device
    // applied and the modem lines; for RAW the data bits, parity and modem lines that programs
    // started by tirv-run set.
    QVariantMap line;
    // The port's link: the service's port directory and the COM name.
    QString link;
    PortReport report;

    bool operator==(const COMS_INFO &other) const;
    // The device's port number, from portSeq; 0 when the connection name carries none.
    int devicePort() const;
    // The device's TCP address of the port, "IP:TCP port"; empty when the port has no number.
    QString deviceTarget() const;
};

using TaskPair = QPair<HidTask, DevInfo>;

Q_DECLARE_METATYPE(DevInfo)
Q_DECLARE_METATYPE(COMS_INFO)
Q_DECLARE_METATYPE(TaskPair)

// Registers "QList<COMS_INFO>" and "QPair<HidTask, DevInfo>" for queued signals.
void registerRecordMetaTypes();
