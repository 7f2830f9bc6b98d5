#include "records.h"

bool COMS_INFO::operator==(const COMS_INFO &other) const
{
    return portCount == other.portCount && devType == other.devType && devIp == other.devIp
        && portSeq == other.portSeq && devMac == other.devMac && comName == other.comName
        && comState == other.comState && config == other.config && line == other.line;
}

void registerRecordMetaTypes()
{
    qRegisterMetaType<COMS_INFO>("COMS_INFO");
    qRegisterMetaType<QList<COMS_INFO>>("QList<COMS_INFO>");
    qRegisterMetaType<DevInfo>("DevInfo");
    qRegisterMetaType<TaskPair>("QPair<HidTask, DevInfo>");
}
