#include "records.h"

#include "serviceparams.h"

bool COMS_INFO::operator==(const COMS_INFO &other) const
{
    return portCount == other.portCount && devType == other.devType && devIp == other.devIp
        && portSeq == other.portSeq && devMac == other.devMac && comName == other.comName
        && comState == other.comState && config == other.config && line == other.line
        && link == other.link && report == other.report;
}

QString COMS_INFO::deviceTarget() const
{
    bool numbered = false;
    const int number = portSeq.toInt(&numbered, 10);
    if (!numbered || number <= 0)
        return QString();
    return QStringLiteral("%1:%2").arg(devIp).arg(deviceTcpPort(number));
}

void registerRecordMetaTypes()
{
    qRegisterMetaType<COMS_INFO>("COMS_INFO");
    qRegisterMetaType<QList<COMS_INFO>>("QList<COMS_INFO>");
    qRegisterMetaType<DevInfo>("DevInfo");
    qRegisterMetaType<TaskPair>("QPair<HidTask, DevInfo>");
}
