#pragma once

#include <QProcess>
#include <QStringList>

// The simulated device (tirv-devsim, from TIRV_DEVSIM_EXEC) with RFC 2217 ports at one address,
// collecting the COM-PORT-OPTION commands it prints.
class SimulatorProcess
{
public:
    explicit SimulatorProcess(const QString &ip, int ports = 1);
    ~SimulatorProcess();

    // Why it cannot serve here, or empty: its TCP ports are below 1024 and need root.
    static QString unavailable();
    bool start();
    void stop();
    // The commands received so far, "SET-BAUDRATE 19200" and so on.
    QStringList commands();
    // Waits until `last` arrives and returns what came since the first `from` commands.
    QStringList until(const QString &last, int from);

private:
    QString ip;
    int ports;
    QProcess process;
    QStringList log;
};
