#include "commanddispatcher.h"

#include "comnumbers.h"
#include "ctlcommands.h"

#include <QCommandLineParser>
#include <QTextStream>

CommandDispatcher::CommandDispatcher(CtlCommands &commands, QTextStream &out, QTextStream &err)
    : commands(commands)
    , out(out)
    , err(err)
{
    buildTable();
}

void CommandDispatcher::buildTable()
{
    const QCommandLineOption json(QStringLiteral("json"), tr("Print JSON for scripts."));
    const Argument ip { QStringLiteral("IP"), tr("IPv4 address of the device.") };
    const Argument com { QStringLiteral("COMn"), tr("COM name of a virtual port, such as COM3.") };
    const QCommandLineOption protocol(QStringLiteral("protocol"),
        tr("Protocol to the device: raw (bytes as they are, the default) or rfc2217 (Telnet "
           "carrying the serial settings)."),
        QStringLiteral("P"));
    table = {
        { QStringLiteral("list"), tr("Lists the devices and their virtual ports."),
            tr("Each port shows its COM name, device port, TCP target, state and link in the port "
               "directory."),
            {}, { json }, &CtlCommands::list },
        { QStringLiteral("add"), tr("Makes a virtual port for every port of a device."),
            tr("Unless given, type and MAC address are those of the manual device entry."),
            { ip,
                { QStringLiteral("PORTS"), tr("Number of serial ports of the device, 1 to 48.") } },
            { { QStringLiteral("type"), tr("Device type (default: <PORTS>Ports)."),
                  QStringLiteral("T") },
                { QStringLiteral("mac"), tr("MAC address text of the device (default: null)."),
                    QStringLiteral("M") },
                protocol },
            &CtlCommands::add },
        { QStringLiteral("create-port"), tr("Makes the virtual port of one port of a device."),
            tr("The device must have virtual ports already; its type, port count and MAC address "
               "are taken from them."),
            { ip, { QStringLiteral("SEQ"), tr("Number of the device port, from 1.") } },
            { protocol }, &CtlCommands::createPort },
        { QStringLiteral("clear"), tr("Deletes every virtual port of a device."), QString(), { ip },
            {}, &CtlCommands::clear },
        { QStringLiteral("delete"), tr("Deletes a virtual port."), QString(), { com }, {},
            &CtlCommands::deletePort },
        { QStringLiteral("rename"), tr("Gives a virtual port another COM name."), QString(),
            { com,
                { QStringLiteral("COMm"),
                    tr("The new COM name, COM1 to COM%1, not in use.").arg(maxComNumber) } },
            {}, &CtlCommands::rename },
        { QStringLiteral("show"), tr("Shows every setting of a virtual port."),
            tr("Also the port's line: for RFC 2217 what the device applied and the modem lines, "
               "for RAW what programs started by tirv-run set."),
            { com }, { json }, &CtlCommands::show },
        { QStringLiteral("set"), tr("Changes settings of a virtual port."),
            tr("Data bits and parity are sent to an RFC 2217 device while a program has the port "
               "open; changing the protocol, send mode or connect on open makes the port anew."),
            { com },
            { protocol,
                { QStringLiteral("data"), tr("Data bits of the device's line, 5 to 8."),
                    QStringLiteral("N") },
                { QStringLiteral("parity"),
                    tr("Parity of the device's line: none, odd, even, mark or space."),
                    QStringLiteral("P") },
                { QStringLiteral("send-mode"),
                    tr("0 or 1: send at once; 2: pack bytes until the send delay passes without "
                       "one."),
                    QStringLiteral("M") },
                { QStringLiteral("send-delay"), tr("Send delay of mode 2, in ms."),
                    QStringLiteral("MS") },
                { QStringLiteral("connect-on-open"),
                    tr("on: connect only while a program has the port open; off: stay connected."),
                    QStringLiteral("on|off") },
                json },
            &CtlCommands::set },
        { QStringLiteral("search"), tr("Searches the local IPv4 networks for devices."),
            tr("The search is broadcast at once and then every 5 seconds; the devices that answer "
               "are listed at the end."),
            {},
            { { QStringLiteral("interface"),
                  tr("Search through this network interface only (system name, such as eth0)."),
                  QStringLiteral("NAME") },
                { QStringLiteral("seconds"), tr("Search for this many seconds (default: 5)."),
                    QStringLiteral("S") },
                json },
            &CtlCommands::search },
    };
}

int CommandDispatcher::run(const QStringList &arguments)
{
    const QString first = arguments.value(1);
    if (first.isEmpty() || first == QLatin1String("--help") || first == QLatin1String("-h")
        || first == QLatin1String("help")) {
        out << overview();
        out.flush();
        return first.isEmpty() ? ExitBadInput : ExitSuccess;
    }
    if (first == QLatin1String("--version")) {
        out << QCoreApplication::applicationName() << ' ' << QCoreApplication::applicationVersion()
            << '\n';
        out.flush();
        return ExitSuccess;
    }
    const Command *command = find(first);
    if (!command)
        return usageError(tr("Unknown command \"%1\".").arg(first), QString());
    return runCommand(*command, arguments);
}

const CommandDispatcher::Command *CommandDispatcher::find(const QString &name) const
{
    for (const Command &command : table) {
        if (command.name == name)
            return &command;
    }
    return nullptr;
}

int CommandDispatcher::runCommand(const Command &command, const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(command.details.isEmpty()
            ? command.summary
            : command.summary + QLatin1Char('\n') + command.details);
    const QCommandLineOption help = parser.addHelpOption();
    parser.addOptions(command.options);
    // The command itself is the first positional argument, so that the usage line shows it.
    parser.addPositionalArgument(command.name, tr("The command."), command.name);
    for (const Argument &argument : command.arguments)
        parser.addPositionalArgument(argument.name, argument.description);

    if (!parser.parse(arguments))
        return usageError(parser.errorText(), command.name);
    if (parser.isSet(help)) {
        out << parser.helpText();
        out.flush();
        return ExitSuccess;
    }
    const QStringList values = parser.positionalArguments().mid(1);
    if (values.size() != command.arguments.size())
        return usageError(tr("Wrong number of arguments for \"%1\": %2 expected.")
                              .arg(command.name)
                              .arg(command.arguments.size()),
            command.name);
    return (commands.*command.handler)(values, parser);
}

int CommandDispatcher::usageError(const QString &message, const QString &command)
{
    err << message << '\n'
        << tr("Run \"tirvctl %1--help\" for help.")
               .arg(command.isEmpty() ? QString() : command + QLatin1Char(' '))
        << '\n';
    err.flush();
    return ExitBadInput;
}

QString CommandDispatcher::overview() const
{
    QString text = tr("Usage: tirvctl COMMAND [options] [arguments]") + QLatin1Char('\n')
        + tr("Lists, makes and removes TIRV's virtual serial ports from a shell.")
        + QLatin1String("\n\n") + tr("Commands:") + QLatin1Char('\n');
    for (const Command &command : table) {
        QStringList synopsis { command.name };
        for (const Argument &argument : command.arguments)
            synopsis.append(argument.name);
        text += QStringLiteral("  %1  %2\n")
                    .arg(synopsis.join(QLatin1Char(' ')).leftJustified(22), command.summary);
    }
    return text + QLatin1Char('\n') + tr("Run \"tirvctl COMMAND --help\" for a command's options.")
        + QLatin1Char('\n');
}
