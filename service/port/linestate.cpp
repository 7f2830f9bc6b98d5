#include "linestate.h"

#include "comportcommand.h"
#include "servicekeys.h"

#include <sys/ioctl.h>

namespace {

QVariantMap fields(const LineSettings &line, quint32 known)
{
    QVariantMap map;
    const auto has = [known](quint8 code) { return known & (1u << code); };
    if (has(ComPortCommand::SetBaudRate))
        map.insert(QStringLiteral("baud"), int(line.baud));
    if (has(ComPortCommand::SetDataSize))
        map.insert(QStringLiteral("data"), int(line.dataBits));
    if (has(ComPortCommand::SetParity))
        map.insert(QStringLiteral("parity"), LineSettings::parityName(line.parity));
    if (has(ComPortCommand::SetStopSize))
        map.insert(QStringLiteral("stop"), line.stopBitsText());
    if (has(ComPortCommand::SetControl))
        map.insert(QStringLiteral("flow"),
            QStringList { "none", "xon/xoff", "rts/cts" }.value(int(line.flow) - 1));
    const quint32 framing = 1u << ComPortCommand::SetBaudRate | 1u << ComPortCommand::SetDataSize
        | 1u << ComPortCommand::SetParity | 1u << ComPortCommand::SetStopSize;
    if ((known & framing) == framing) {
        LineSettings shown = line;
        if (!has(ComPortCommand::SetControl))
            shown.flow = LineSettings::Flow::None;
        map.insert(QStringLiteral("text"), shown.text());
    }
    return map;
}

const quint32 kFramingFields = 1u << ComPortCommand::SetDataSize | 1u << ComPortCommand::SetParity;
const quint32 kAllFields = kFramingFields | 1u << ComPortCommand::SetBaudRate
    | 1u << ComPortCommand::SetStopSize | 1u << ComPortCommand::SetControl;
// What a line nobody reported on shows: ready and carrier on.
const quint8 kAssumedModem = ComPortCommand::Cts | ComPortCommand::Dsr | ComPortCommand::Cd;

} // namespace

LineState::LineState(bool toDevice)
    : toDevice(toDevice)
{
}

void LineState::setLearnt(const LineSettings &learnt)
{
    LineSettings next = learnt;
    next.dataBits = wanted.dataBits;
    next.parity = wanted.parity;
    // The port's own reset after the last close is no program's hang-up or return.
    if (held && (next.baud == 0) != (wanted.baud == 0))
        setDtr(next.baud != 0);
    change(wanted, next);
}

void LineState::setFraming(quint8 dataBits, LineSettings::Parity parity)
{
    LineSettings next = wanted;
    next.dataBits = dataBits;
    next.parity = parity;
    change(wanted, next);
}

void LineState::openLines()
{
    held = true;
    setDtr(wanted.baud != 0);
    setRts(true);
    setBreak(false);
}

void LineState::closeLines()
{
    held = false;
    setDtr(false);
    setRts(false);
    setBreak(false);
}

void LineState::setApplied(quint8 code, quint32 value)
{
    switch (code) {
    case ComPortCommand::SetBaudRate:
        applied.baud = value;
        break;
    case ComPortCommand::SetDataSize:
        applied.dataBits = quint8(value);
        break;
    case ComPortCommand::SetParity:
        applied.parity = LineSettings::Parity(qBound(1u, value, 5u));
        break;
    case ComPortCommand::SetStopSize:
        applied.stopBits = LineSettings::StopBits(qBound(1u, value, 3u));
        break;
    case ComPortCommand::SetControl:
        // Only the outbound flow control answers count here; DTR and RTS are the port's own.
        if (value < 1 || value > 3)
            return;
        applied.flow = LineSettings::Flow(value);
        break;
    default:
        return;
    }
    appliedKnown |= 1u << code;
    touch();
}

void LineState::setSupport(Support support)
{
    change(supportState, support);
}

void LineState::setModemLines(quint8 state)
{
    const quint8 before = reportedModem();
    const quint8 flips = before ^ state;
    changed.cts += bool(flips & ComPortCommand::Cts);
    changed.dsr += bool(flips & ComPortCommand::Dsr);
    changed.dcd += bool(flips & ComPortCommand::Cd);
    changed.rng += bool(before & ~state & ComPortCommand::Ri);
    if (!modemKnown || state != modem) {
        modemKnown = true;
        modem = state;
        touch();
    }
}

quint8 LineState::reportedModem() const
{
    return modemKnown ? modem : kAssumedModem;
}

quint32 LineState::terminalLines() const
{
    const quint8 reported = reportedModem();
    const auto bit = [](bool on, quint32 line) { return on ? line : 0u; };
    return bit(dtr, TIOCM_DTR) | bit(rts, TIOCM_RTS)
        | bit(reported & ComPortCommand::Cts, TIOCM_CTS)
        | bit(reported & ComPortCommand::Dsr, TIOCM_DSR)
        | bit(reported & ComPortCommand::Cd, TIOCM_CD)
        | bit(reported & ComPortCommand::Ri, TIOCM_RI);
}

void LineState::setDtr(bool on)
{
    change(dtr, on);
}

void LineState::setRts(bool on)
{
    change(rts, on);
}

void LineState::setBreak(bool on)
{
    change(breakOn, on);
}

QVariantMap LineState::status() const
{
    // In the order of Support.
    static const QString supportTexts[] = { ServiceKeys::kSupportOffline,
        ServiceKeys::kSupportNegotiating, ServiceKeys::kSupportYes, ServiceKeys::kSupportNo };
    QVariantMap lines { { QStringLiteral("dtr"), int(dtr) }, { QStringLiteral("rts"), int(rts) } };
    if (modemKnown || !toDevice) {
        const quint8 reported = reportedModem();
        lines.insert(QStringLiteral("cts"), int(bool(reported & ComPortCommand::Cts)));
        lines.insert(QStringLiteral("dsr"), int(bool(reported & ComPortCommand::Dsr)));
        lines.insert(QStringLiteral("cd"), int(bool(reported & ComPortCommand::Cd)));
        lines.insert(QStringLiteral("ri"), int(bool(reported & ComPortCommand::Ri)));
    }
    if (!toDevice)
        return { { ServiceKeys::kLineRequested, fields(wanted, kFramingFields) },
            { ServiceKeys::kLineModem, lines } };
    return {
        { ServiceKeys::kLineSupport, supportTexts[int(supportState)] },
        { ServiceKeys::kLineRequested, fields(wanted, kAllFields) },
        { ServiceKeys::kLineApplied, fields(applied, appliedKnown) },
        { ServiceKeys::kLineModem, lines },
    };
}
