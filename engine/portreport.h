#pragma once

#include "secapi.h"

#include <QString>

// Why a port is in its state and what it has carried, as the service's listing reports them
// ("status.reason" and "status.counters"), and the words for them in the language in force.
// Times are ms since the epoch, 0 when there is none.
struct PortReport
{
    QString trouble; // one of ServiceKeys' kTrouble values; empty while the port is fine
    QString detail; // the service's own words
    qint64 since = 0;
    qint64 retry = 0; // when the next try is due
    qint64 toDevice = 0;
    qint64 fromDevice = 0;
    qint64 reconnects = 0;
    qint64 dropped = 0;
    qint64 lastConnect = 0;

    bool operator==(const PortReport &other) const;
    bool isFine() const { return trouble.isEmpty(); }

    // From the listing just made; what it lacks stays as above.
    static PortReport read(ConnectionHandle handle);

    // "the device refused the connection (since 12:03:04, next try at 12:03:06)"; empty while
    // the port is fine.
    QString reasonText() const;
    // The trouble alone, without its times.
    QString troubleText() const;
    // A time of day, with the date when it is not today; empty for 0.
    static QString timeText(qint64 msecsSinceEpoch);
};
