#pragma once

#include <QList>
#include <QString>
#include <QVariant>
#include <QVariantMap>

// What a virtual port needs of its connection's parameters.
struct PortSettings
{
    struct Host
    {
        QString name; // as given, for the remote-host listing and the log
        QVariant portText; // as given, for the remote-host listing
        quint16 port = 0;
        QString dialName; // what to connect to: name, an address's groups read as decimal
    };

    QString comName;
    QList<Host> hosts;
    // Send mode 2: pack bytes until this many ms pass without a new one; 0 sends at once.
    int packIdleMs = 0;
    // Connect only while a program has the port open.
    bool connectWhileOpen = false;

    // A name that stays a plain file name inside the port directory.
    static bool isUsableComName(const QString &comName);
    // False with the reason when the parameters cannot make a port.
    static bool fromParams(const QVariantMap &params, PortSettings *settings, QString *reason);
};
