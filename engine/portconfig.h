#pragma once

#include "secapi.h"
#include "servicekeys.h"

#include <QString>
#include <QVariantMap>

// The settings of one virtual port that a user may change after it was made, with the values
// a port has when the parameter was never written.
struct PortConfig
{
    QString protocol = ServiceKeys::kProtocolRaw; // or ServiceKeys::kProtocolRfc2217
    int dataBits = 8; // 5 to 8
    QString parity = QStringLiteral("none"); // "none", "odd", "even", "mark", "space"
    int sendMode = 0; // 0 to 2; mode 2 packs bytes until sendDelay ms pass without one
    int sendDelay = 0; // ms
    bool connectOnOpen = false;

    static constexpr int kMaxSendDelay = 60000;

    bool operator==(const PortConfig &other) const;
    bool operator!=(const PortConfig &other) const { return !(*this == other); }

    bool isRfc2217() const;
    // Reads what the connection holds; missing parameters keep their defaults.
    static PortConfig read(ConnectionHandle handle);
    // Writes every setting and applies them to the working port.
    bool write(ConnectionHandle handle) const;
    // The parity names in order.
    static QStringList parityNames();
};
