#pragma once

#include <QString>
#include <QVariantMap>

#include <memory>

class ConnectionPort;

// Makes the working port of a started connection from its parameters.
class PortFactory
{
public:
    virtual ~PortFactory() = default;
    // Returns null and sets reason when the port cannot be made.
    virtual std::unique_ptr<ConnectionPort> makePort(const QVariantMap &params, QString *reason)
        = 0;
};
