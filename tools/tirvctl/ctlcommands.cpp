#include "ctlcommands.h"

#include "connectionname.h"
#include "ctlprinter.h"
#include "devicesearch.h"
#include "inputrules.h"
#include "ipv4address.h"
#include "portlisting.h"
#include "secapi.h"
#include "servicekeys.h"
#include "servicelimits.h"

#include <QCommandLineParser>
#include <QTextStream>

namespace {

// The window's own texts, so that tirvctl says what the window says.
QString windowText(const char *context, const char *source)
{
    return QCoreApplication::translate(context, source);
}

QString invalidIpText()
{
    return windowText("AddDevice", "请输入规范的IP地址!");
}

constexpr int maxSearchSeconds = 3600;

} // namespace

CtlCommands::CtlCommands(QTextStream &out, QTextStream &err)
    : out(out)
    , err(err)
{
}

CtlCommands::~CtlCommands()
{
    if (serviceOpen)
        sec_DisconnectService();
}

int CtlCommands::list(const QStringList &, const QCommandLineParser &options)
{
    PortListing listing;
    if (!readListing(&listing))
        return ExitFailure;
    CtlPrinter(out, options.isSet(QStringLiteral("json"))).printListing(listing);
    return ExitSuccess;
}

int CtlCommands::add(const QStringList &args, const QCommandLineParser &options)
{
    // One device, one name: "10.0.0.02" is added as 10.0.0.2, and so found to exist.
    const QString ip = Ipv4Address::canonical(args.at(0));
    int portCount = 0;
    if (!Ipv4Address::isDeviceAddress(ip))
        return badInput(invalidIpText());
    if (!InputRules::parseInt(
            args.at(1), InputRules::minPortCount, InputRules::maxPortCount, &portCount))
        return badInput(tr("The port count must be a number from %1 to %2.")
                            .arg(InputRules::minPortCount)
                            .arg(InputRules::maxPortCount));
    // The manual device entry's type and MAC address.
    const QString type = options.isSet(QStringLiteral("type"))
        ? options.value(QStringLiteral("type"))
        : QStringLiteral("%1Ports").arg(portCount);
    const QString mac = options.isSet(QStringLiteral("mac")) ? options.value(QStringLiteral("mac"))
                                                             : QStringLiteral("null");
    if (!InputRules::isNameField(type) || !InputRules::isNameField(mac))
        return badInput(tr("The device type and MAC address must not be empty or contain \"@\"."));
    if (!connectionNamesFit(ip, type, portCount, mac))
        return badInput(tr("The device type and MAC address are too long: a port's name holds "
                           "at most %1 characters.")
                            .arg(ServiceLimits::kMaxTextLength));
    QString protocol;
    if (!newPortProtocol(options, &protocol))
        return badInput(tr("The protocol must be raw or rfc2217."));
    if (!openService())
        return ExitFailure;
    QString message;
    operations.createDevicePorts(portCount, type, ip, mac, message, protocol);
    if (!message.isEmpty())
        return failure(message);
    return showDevice(ip);
}

int CtlCommands::createPort(const QStringList &args, const QCommandLineParser &options)
{
    const QString ip = Ipv4Address::canonical(args.at(0));
    if (ip.isEmpty())
        return badInput(invalidIpText());
    QString protocol;
    if (!newPortProtocol(options, &protocol))
        return badInput(tr("The protocol must be raw or rfc2217."));
    PortListing listing;
    if (!readListing(&listing))
        return ExitFailure;
    // Type, port count and MAC address of a device live only in the names of its ports.
    const ListedDevice *device = listing.device(ip);
    if (!device)
        return badInput(tr("Device %1 has no virtual ports; add the device first.").arg(ip));
    int portSeq = 0;
    if (!InputRules::parseInt(args.at(1), 1, device->portCount, &portSeq))
        return badInput(
            tr("The device port must be a number from 1 to %1.").arg(device->portCount));
    // The device's own spelling, which its ports' names carry.
    const QString devIp = device->ip;
    QString message;
    operations.createOnePort(
        device->portCount, portSeq, device->type, devIp, device->mac, message, protocol);
    if (!message.isEmpty())
        return failure(message);
    return showDevice(devIp);
}

int CtlCommands::clear(const QStringList &args, const QCommandLineParser &)
{
    const QString ip = Ipv4Address::canonical(args.at(0));
    if (ip.isEmpty())
        return badInput(invalidIpText());
    PortListing listing;
    if (!readListing(&listing))
        return ExitFailure;
    const ListedDevice *device = listing.device(ip);
    if (!device)
        return badInput(tr("Device %1 has no virtual ports.").arg(ip));
    const QString devIp = device->ip;
    QString message;
    operations.clearDevicePorts(devIp, message);
    return confirm(
        message, [&](const PortListing &after) { return !after.device(devIp); },
        "清空虚拟串口失败！");
}

int CtlCommands::deletePort(const QStringList &args, const QCommandLineParser &)
{
    const QString comName = args.at(0);
    if (!InputRules::isComName(comName))
        return badInput(tr("\"%1\" is not a COM name such as COM3.").arg(comName));
    PortListing listing;
    if (!readListing(&listing))
        return ExitFailure;
    if (!listing.hasComName(comName))
        return badInput(tr("There is no virtual port %1.").arg(comName));
    QString message;
    operations.deleteComPort(comName, message);
    return confirm(
        message, [&](const PortListing &after) { return !after.hasComName(comName); },
        "删除虚拟串口失败！");
}

int CtlCommands::rename(const QStringList &args, const QCommandLineParser &)
{
    const QString comName = args.at(0);
    const QString newComName = args.at(1);
    for (const QString &name : { comName, newComName }) {
        if (!InputRules::isComName(name))
            return badInput(tr("\"%1\" is not a COM name such as COM3.").arg(name));
    }
    if (!InputRules::isRenameTarget(newComName))
        return badInput(tr("The new COM name must be one of COM1 to COM%1.").arg(maxComNumber));
    PortListing listing;
    if (!readListing(&listing))
        return ExitFailure;
    if (!listing.hasComName(comName))
        return badInput(tr("There is no virtual port %1.").arg(comName));
    operations.refreshSystemComNames();
    if (listing.hasComName(newComName) || operations.systemComNames().contains(newComName))
        return badInput(windowText("ModifyCom", "当前串口已被使用！"));
    QString message;
    operations.modifyComPort(comName, newComName, message);
    return confirm(
        message,
        [&](const PortListing &after) {
            return after.hasComName(newComName) && !after.hasComName(comName);
        },
        "修改串口号失败！");
}

int CtlCommands::show(const QStringList &args, const QCommandLineParser &options)
{
    PortListing listing;
    int status = ExitSuccess;
    const ListedPort *port = findPort(args.at(0), &listing, &status);
    if (!port)
        return status;
    CtlPrinter(out, options.isSet(QStringLiteral("json"))).printPort(*port);
    return ExitSuccess;
}

int CtlCommands::set(const QStringList &args, const QCommandLineParser &options)
{
    PortConfig config;
    const QString problem = readSettings(options, &config);
    if (!problem.isEmpty())
        return badInput(problem);
    PortListing listing;
    int status = ExitSuccess;
    const ListedPort *port = findPort(args.at(0), &listing, &status);
    if (!port)
        return status;
    config = port->config;
    readSettings(options, &config);
    QString message;
    operations.setPortConfig(port->comName, config, message);
    const QString comName = port->comName;
    const int result = confirm(
        message,
        [&](const PortListing &after) {
            return after.port(comName) && after.port(comName)->config == config;
        },
        "修改串口设置失败！");
    if (result != ExitSuccess)
        return result;
    PortListing after;
    if (readListing(&after) && after.port(comName))
        CtlPrinter(out, options.isSet(QStringLiteral("json"))).printPort(*after.port(comName));
    return ExitSuccess;
}

int CtlCommands::search(const QStringList &, const QCommandLineParser &options)
{
    int seconds = 5;
    if (options.isSet(QStringLiteral("seconds"))
        && !InputRules::parseInt(
            options.value(QStringLiteral("seconds")), 1, maxSearchSeconds, &seconds))
        return badInput(
            tr("The search time must be a number of seconds from 1 to %1.").arg(maxSearchSeconds));
    DeviceSearch search;
    const QString interface = options.value(QStringLiteral("interface"));
    if (interface.isEmpty())
        search.bindAllInterfaces();
    else if (!search.bindInterface(interface))
        return badInput(tr("There is no network interface %1.").arg(interface));
    for (const QString &error : search.bindErrors())
        err << tr("Cannot search from %1").arg(error) << '\n';
    if (search.socketCount() == 0)
        return failure(tr("No usable IPv4 address to search from."));
    search.run(seconds);
    CtlPrinter(out, options.isSet(QStringLiteral("json"))).printSearchRows(search.results().rows());
    return ExitSuccess;
}

bool CtlCommands::openService()
{
    if (!serviceOpen && !sec_ConnectService(QVariant(QStringLiteral(".")))) {
        failure(windowText("RefreshTree", "虚拟串口服务初始化失败！"));
        return false;
    }
    serviceOpen = true;
    return true;
}

bool CtlCommands::readListing(PortListing *listing)
{
    if (!openService())
        return false;
    QList<COMS_INFO> ports;
    if (!operations.refreshComInfo(&ports)) {
        failure(windowText("RefreshTree", "获取所有虚拟串口信息失败！"));
        return false;
    }
    const QVariantMap status = serviceStatus();
    *listing = PortListing(ports, status.value(ServiceKeys::kPortDirectory).toString(),
        status.value(ServiceKeys::kSaveError).toString());
    return true;
}

int CtlCommands::showDevice(const QString &ip)
{
    PortListing listing;
    if (!readListing(&listing))
        return ExitFailure;
    CtlPrinter(out, false).printListing(listing.deviceOnly(ip));
    return ExitSuccess;
}

int CtlCommands::confirm(const QString &message,
    const std::function<bool(const PortListing &)> &done, const char *failureText)
{
    if (!message.isEmpty())
        return failure(message);
    PortListing after;
    if (!readListing(&after))
        return ExitFailure;
    if (!done(after))
        return failure(windowText("RefreshTree", failureText));
    return ExitSuccess;
}

const ListedPort *CtlCommands::findPort(const QString &comName, PortListing *listing, int *status)
{
    if (!InputRules::isComName(comName)) {
        *status = badInput(tr("\"%1\" is not a COM name such as COM3.").arg(comName));
        return nullptr;
    }
    if (!readListing(listing)) {
        *status = ExitFailure;
        return nullptr;
    }
    const ListedPort *port = listing->port(comName);
    if (!port)
        *status = badInput(tr("There is no virtual port %1.").arg(comName));
    return port;
}

QString CtlCommands::readSettings(const QCommandLineParser &options, PortConfig *config) const
{
    bool any = false;
    const auto given = [&](const char *name, QString *value) {
        *value = options.value(QLatin1String(name));
        const bool set = options.isSet(QLatin1String(name));
        any = any || set;
        return set;
    };
    QString value;
    if (given("protocol", &value) && !InputRules::parseProtocol(value, &config->protocol))
        return tr("The protocol must be raw or rfc2217.");
    if (given("data", &value) && !InputRules::parseInt(value, 5, 8, &config->dataBits))
        return tr("The data bits must be a number from 5 to 8.");
    if (given("parity", &value)) {
        if (!PortConfig::parityNames().contains(value))
            return tr("The parity must be none, odd, even, mark or space.");
        config->parity = value;
    }
    if (given("send-mode", &value) && !InputRules::parseInt(value, 0, 2, &config->sendMode))
        return tr("The send mode must be 0, 1 or 2.");
    if (given("send-delay", &value)
        && !InputRules::parseInt(value, 0, PortConfig::kMaxSendDelay, &config->sendDelay))
        return tr("The send delay must be a number of ms from 0 to %1.")
            .arg(PortConfig::kMaxSendDelay);
    if (given("connect-on-open", &value) && !InputRules::parseOnOff(value, &config->connectOnOpen))
        return tr("Connect on open must be on or off.");
    return any ? QString() : tr("Nothing to set: give at least one setting.");
}

bool CtlCommands::newPortProtocol(const QCommandLineParser &options, QString *protocol) const
{
    *protocol = ServiceKeys::kProtocolRaw;
    return !options.isSet(QStringLiteral("protocol"))
        || InputRules::parseProtocol(options.value(QStringLiteral("protocol")), protocol);
}

int CtlCommands::badInput(const QString &message)
{
    failure(message);
    return ExitBadInput;
}

int CtlCommands::failure(const QString &message)
{
    err << message << '\n';
    err.flush();
    return ExitFailure;
}
