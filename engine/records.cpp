#include "records.h"

#include "serviceparams.h"

bool COMS_INFO::operator==(const COMS_INFO &other) const
{
    return portCount == other.portCount && devType == other.devType && devIp == other.devIp
        && portSeq == other.portSeq && devMac == other.devMac && comName == other.comName
        && comState == other.comState && config == other.config && line == other.line
        && link == other.link && report == other.report;
}

int COMS_INFO::devicePort() const
{
    bool numbered = false;
    const int number = portSeq.toInt(&numbered, 10);
    return numbered && number > 0 ? number : 0;
}

QString COMS_INFO::deviceTarget() const
{
    const int number = devicePort();
    return number ? QStringLiteral("%1:%2").arg(devIp).arg(deviceTcpPort(number)) : QString();
}

void registerRecordMetaTypes()
{
    qRegisterMetaType<COMS_INFO>("COMS_INFO");
    qRegisterMetaType<QList<COMS_INFO>>("QList<COMS_INFO>");
    qRegisterMetaType<DevInfo>("DevInfo");
    qRegisterMetaType<TaskPair>("QPair<HidTask, DevInfo>");
}
