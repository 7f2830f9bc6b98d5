#pragma once

#include "secapi.h"

#include <QList>
#include <QString>
#include <QVariant>

// Small readers and writers over the sec_* calls, shared by the engine's operations.

// The handles of a connection list; empty when the value is not an array.
QList<ConnectionHandle> connectionHandles(const QVariant &list);

// Reads a text parameter; false when the read fails or the value is not text.
bool readTextParam(ConnectionHandle handle, const QString &key, QString *text);
// Reads a map parameter; empty when the read fails or the value is no map.
QVariantMap readMapParam(ConnectionHandle handle, const QString &key);

bool writeParam(ConnectionHandle handle, const QString &key, const QVariant &value);

// Where the service puts the link of a port; empty when either is not known.
QString portLinkPath(const QString &portDirectory, const QString &comName);

// Device port k is served on TCP port 964 + 2k of the device.
inline int deviceTcpPort(int portSeq)
{
    return 964 + 2 * portSeq;
}
