#pragma once

#include "connectionservice.h"

#include <QVariant>

// The connection service's nine calls. Values are tagged: QString for text, int for integers,
// QVariantList for arrays. Every call returns nonzero for success and 0 for failure.
//
// The calls reach the per-user service process. With TIRV_SERVICE=inprocess they go to the
// implementation the program installed with setInProcessService() instead (test programs hold
// the daemon's table in their own process); a program without one fails every call then.

int sec_ConnectService(const QVariant &machine);
int sec_DisconnectService();
int sec_GetConnectionsList(QVariant *list);
int sec_CreateConnection(int kind, ConnectionHandle *handle);
int sec_SetParam(ConnectionHandle handle, const QVariant &key, const QVariant &value);
int sec_GetParam(ConnectionHandle handle, const QVariant &key, QVariant *value);
int sec_AddConnectionService(ConnectionHandle handle);
int sec_DeleteConnection(ConnectionHandle handle);
int sec_ApplyConnection(ConnectionHandle handle);

// What the service says of itself (the ServiceKeys of the service's status), as the last
// listing brought it; empty before the first listing.
QVariantMap serviceStatus();

// Stays the same while every sec_GetParam of the last listing's handles, and serviceStatus(),
// would answer as they did after it; 0 when that is not known.
quint64 listingGeneration();

// Why the calling thread's last failed sec_* call failed, in the service's words (English, the
// port and the cause, such as "COM5: a file that is not ours is in the way at ..."); empty when
// no reason was given.
QString serviceFailureReason();

// Installs the in-process implementation; `instance` is asked for it at each call.
void setInProcessService(ConnectionService &(*instance)());
