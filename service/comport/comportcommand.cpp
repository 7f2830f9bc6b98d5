#include "comportcommand.h"

#include "telnetcodec.h"

namespace {

bool carriesBaudRate(quint8 clientCode)
{
    return clientCode == ComPortCommand::SetBaudRate;
}

} // namespace

QByteArray ComPortCommand::encode() const
{
    QByteArray payload;
    payload.append(char(code));
    if (carriesBaudRate(clientCode())) {
        for (int shift = 24; shift >= 0; shift -= 8)
            payload.append(char((value >> shift) & 0xff));
    } else {
        payload.append(char(value & 0xff));
    }
    return TelnetCodec::subnegotiation(TelnetCodec::ComPort, payload);
}

bool ComPortCommand::decode(const QByteArray &payload, ComPortCommand *command)
{
    if (payload.isEmpty())
        return false;
    command->code = quint8(payload.at(0));
    const int width = carriesBaudRate(command->clientCode()) ? 4 : 1;
    // Signatures carry free text; only their code matters here.
    if (command->clientCode() == Signature) {
        command->value = 0;
        return true;
    }
    if (payload.size() < 1 + width)
        return false;
    command->value = 0;
    for (int i = 1; i <= width; ++i)
        command->value = command->value << 8 | quint8(payload.at(i));
    return true;
}

QString ComPortCommand::name(quint8 code)
{
    static const char *const names[]
        = { "SIGNATURE", "SET-BAUDRATE", "SET-DATASIZE", "SET-PARITY", "SET-STOPSIZE",
              "SET-CONTROL", "NOTIFY-LINESTATE", "NOTIFY-MODEMSTATE", "FLOWCONTROL-SUSPEND",
              "FLOWCONTROL-RESUME", "SET-LINESTATE-MASK", "SET-MODEMSTATE-MASK", "PURGE-DATA" };
    const quint8 base = code >= kServerOffset ? code - kServerOffset : code;
    if (base >= sizeof names / sizeof *names)
        return QStringLiteral("COMMAND-%1").arg(code);
    const QString text = QString::fromLatin1(names[base]);
    return code >= kServerOffset ? text + QStringLiteral("-ANSWER") : text;
}
