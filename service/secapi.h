#pragma once

#include <QVariant>

// The connection service's nine calls. Values are tagged: QString for text, int for integers,
// QVariantList for arrays. Every call returns nonzero for success and 0 for failure.
//
// By default the calls reach the per-user service process; with TIRV_SERVICE=inprocess they
// go to a connection table inside the calling process (tests).

using ConnectionHandle = qint32;

int sec_ConnectService(const QVariant &machine);
int sec_DisconnectService();
int sec_GetConnectionsList(QVariant *list);
int sec_CreateConnection(int kind, ConnectionHandle *handle);
int sec_SetParam(ConnectionHandle handle, const QVariant &key, const QVariant &value);
int sec_GetParam(ConnectionHandle handle, const QVariant &key, QVariant *value);
int sec_AddConnectionService(ConnectionHandle handle);
int sec_DeleteConnection(ConnectionHandle handle);
int sec_ApplyConnection(ConnectionHandle handle);
