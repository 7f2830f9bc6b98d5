#include "serviceparams.h"

QList<ConnectionHandle> connectionHandles(const QVariant &list)
{
    QList<ConnectionHandle> handles;
    if (list.userType() != QMetaType::QVariantList)
        return handles;
    const QVariantList elements = list.toList();
    handles.reserve(elements.size());
    for (const QVariant &element : elements)
        handles.append(element.toInt());
    return handles;
}

bool readTextParam(ConnectionHandle handle, const QString &key, QString *text)
{
    QVariant value;
    if (!sec_GetParam(handle, key, &value) || value.userType() != QMetaType::QString)
        return false;
    *text = value.toString();
    return true;
}

QVariantMap readMapParam(ConnectionHandle handle, const QString &key)
{
    QVariant value;
    return sec_GetParam(handle, key, &value) ? value.toMap() : QVariantMap();
}

bool writeParam(ConnectionHandle handle, const QString &key, const QVariant &value)
{
    return sec_SetParam(handle, key, value) != 0;
}

// Built by hand: the worker makes one per port at every listing.
QString portLinkPath(const QString &portDirectory, const QString &comName)
{
    if (portDirectory.isEmpty() || comName.isEmpty())
        return QString();
    if (portDirectory.endsWith(QLatin1Char('/')))
        return portDirectory + comName;
    return portDirectory + QLatin1Char('/') + comName;
}
