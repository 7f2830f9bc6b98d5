#include "connectionname.h"

#include "records.h"
#include "servicelimits.h"

#include <QStringList>

QString makeConnectionName(
    const QString &devIp, const QString &devType, int portCount, int portSeq, const QString &devMac)
{
    return QStringLiteral("TIR@%1@%2@%3@%4@%5")
        .arg(devIp, devType, QString::number(portCount), QString::number(portSeq), devMac);
}

// The last port's name has the most digits.
bool connectionNamesFit(
    const QString &devIp, const QString &devType, int portCount, const QString &devMac)
{
    return makeConnectionName(devIp, devType, portCount, portCount, devMac).size()
        <= ServiceLimits::kMaxTextLength;
}

bool parseConnectionName(const QString &name, COMS_INFO &record)
{
    if (!name.contains(QLatin1String("TIR")))
        return false;
    const QStringList parts = name.split(QLatin1Char('@'));
    record.devIp = parts.value(1);
    record.devType = parts.value(2);
    record.portCount = parts.value(3).toInt();
    record.portSeq = parts.value(4);
    record.devMac = parts.value(5);
    return true;
}
