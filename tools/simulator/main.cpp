// tirv-devsim: simulated serial-device servers that answer the device search and serve their
// ports over TCP, for tests and for trying TIRV without hardware.
#include "deviceport.h"
#include "devicesimulator.h"
#include "simulateddevice.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

namespace {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

int fail(const QString &message)
{
    QTextStream(stderr) << "tirv-devsim: " << message << '\n';
    return 1;
}

bool readDevices(const QStringList &descriptions, const QString &protocol,
    QList<SimulatedDevice> *devices, QString *error)
{
    SimulatedDevice defaults;
    if (!SimulatedDevice::protocolFromName(protocol, &defaults.telnet)) {
        *error = QStringLiteral("unknown protocol \"%1\"").arg(protocol);
        return false;
    }
    for (const QString &description : descriptions) {
        SimulatedDevice device = defaults;
        if (!SimulatedDevice::parse(description, &device, error))
            return false;
        devices->append(device);
    }
    if (devices->isEmpty())
        devices->append(defaults);
    return true;
}

bool servePorts(const QList<SimulatedDevice> &devices, bool withPty, QString *error)
{
    for (const SimulatedDevice &device : devices) {
        for (int k = 1; k <= device.ports; ++k) {
            auto *port = new DevicePort(device.ip, k, device.telnet, qApp);
            if (!port->start(withPty, error))
                return false;
            if (withPty)
                out() << "pty " << device.ip << ' ' << k << ' ' << port->ptyPath() << Qt::endl;
        }
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulated serial-device servers. A device is described by a comma-separated list of\n"
        "ip=A.B.C.D (bound and reported, default 127.0.0.1), report=TEXT (IP text of the\n"
        "text reply), type=TEXT, ports=N, mac=00:1A:2B:3C:4D:5E, answer=text|probes|both,\n"
        "reply=direct|broadcast (to the asker, or to 255.255.255.255 at the asker's port),\n"
        "protocol=raw|rfc2217 (Telnet with COM-PORT-OPTION; each command received is\n"
        "printed as \"comport <ip> <port> <COMMAND> <value>\")."));
    parser.addHelpOption();
    parser.addOption({ QStringLiteral("device"),
        QStringLiteral("One simulated device (repeatable)."), QStringLiteral("description") });
    parser.addOption({ QStringLiteral("pty"),
        QStringLiteral("Bridge each device port to a pseudo-terminal instead of echoing.") });
    parser.addOption({ QStringLiteral("protocol"),
        QStringLiteral("Protocol of devices that name none: raw (default) or rfc2217."),
        QStringLiteral("protocol"), QStringLiteral("raw") });
    parser.addOption({ QStringLiteral("no-tcp"),
        QStringLiteral("Answer the search only; serve no TCP ports.") });
    parser.process(app);

    QString error;
    QList<SimulatedDevice> devices;
    if (!readDevices(parser.values(QStringLiteral("device")),
            parser.value(QStringLiteral("protocol")), &devices, &error))
        return fail(error);
    DeviceSimulator simulator(devices);
    if (!simulator.start(&error))
        return fail(error);
    if (!parser.isSet(QStringLiteral("no-tcp"))
        && !servePorts(devices, parser.isSet(QStringLiteral("pty")), &error))
        return fail(error);
    out() << "ready" << Qt::endl;
    return app.exec();
}
