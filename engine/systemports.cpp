#include "systemports.h"

#include "servicekeys.h"
#include "serviceparams.h"

#include <QSerialPortInfo>

QStringList localSerialPortNames()
{
    QStringList names;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &port : ports)
        names.append(port.portName());
    return names;
}

QStringList systemSerialPortNames()
{
    QStringList names = localSerialPortNames();
    QVariant list;
    if (sec_GetConnectionsList(&list)) {
        const QList<ConnectionHandle> handles = connectionHandles(list);
        for (ConnectionHandle handle : handles) {
            QString comName;
            if (readTextParam(handle, ServiceKeys::kPortName, &comName) && !comName.isEmpty())
                names.append(comName);
        }
    }
    names.removeDuplicates();
    return names;
}
