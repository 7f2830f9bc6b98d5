#pragma once

#include "linesettings.h"

#include <QList>
#include <QString>
#include <QVariant>
#include <QVariantMap>

// What a virtual port needs of its connection's parameters.
struct BridgeSettings
{
    struct Host
    {
        QString name; // as given, for the remote-host listing and the log
        QVariant portText; // as given, for the remote-host listing
        quint16 port = 0;
        QString dialName; // what to connect to: name, an address as Ipv4Address spells it
    };

    QString comName;
    QList<Host> hosts;
    // Send mode 2: pack bytes until this many ms pass without a new one; 0 sends at once.
    int packIdleMs = 0;
    // Connect only while a program has the port open.
    bool connectWhileOpen = false;
    // Telnet with COM-PORT-OPTION instead of raw bytes.
    bool rfc2217 = false;
    // What the line uses beside what a program can set through a pseudo-terminal.
    quint8 dataBits = 8;
    LineSettings::Parity parity = LineSettings::Parity::None;

    // Whether other settings can take this one's place on a working port: only the name and
    // the line's framing may differ.
    bool isCompatible(const BridgeSettings &other) const;

    // A name that stays a plain file name inside the port directory.
    static bool isUsableComName(const QString &comName);
    // False with the reason when the parameters cannot make a port.
    static bool fromParams(const QVariantMap &params, BridgeSettings *settings, QString *reason);
};
