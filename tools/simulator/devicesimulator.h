#pragma once

#include "simulateddevice.h"

#include <QList>
#include <QObject>

class QUdpSocket;

// Answers the device search for a set of simulated devices: the text request on UDP 42356 and
// the two probes on UDP 1029, each reply sent from the device's own address to the asker, or by
// broadcast to the asker's port.
class DeviceSimulator : public QObject
{
    Q_OBJECT

public:
    explicit DeviceSimulator(const QList<SimulatedDevice> &devices, QObject *parent = nullptr);

    // Binds the listening and the replying sockets; error says why not.
    bool start(QString *error);

private:
    QUdpSocket *listen(quint16 port, QString *error);
    void readRequests();
    void readProbes();
    void answer(QUdpSocket *listener, bool text);

    QList<SimulatedDevice> devices;
    QList<QUdpSocket *> replySockets; // one per device, in the order of devices
    QUdpSocket *requestSocket = nullptr;
    QUdpSocket *probeSocket = nullptr;
};
