#pragma once

#include <QString>

struct COMS_INFO;

// The service stores which device and device port a virtual port belongs to only in the
// connection's name: "TIR@ip@type@portCount@portSeq@mac".
QString makeConnectionName(const QString &devIp, const QString &devType, int portCount, int portSeq,
    const QString &devMac);

// Whether the names of every port of the device fit the longest text the service keeps.
bool connectionNamesFit(
    const QString &devIp, const QString &devType, int portCount, const QString &devMac);

// Fills the five device fields of record from name. Returns false, leaving record untouched,
// when the name is not one of ours (no "TIR" in it). Missing fields of a short name stay empty.
bool parseConnectionName(const QString &name, COMS_INFO &record);
