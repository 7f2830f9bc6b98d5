#include "linestate.h"

#include "comportcommand.h"
#include "servicekeys.h"

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
        map.insert(QStringLiteral("stop"),
            line.stopBits == LineSettings::StopBits::OneAndHalf
                ? QStringLiteral("1.5")
                : QString::number(int(line.stopBits)));
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

const quint32 kAllFields = 1u << ComPortCommand::SetBaudRate | 1u << ComPortCommand::SetDataSize
    | 1u << ComPortCommand::SetParity | 1u << ComPortCommand::SetStopSize
    | 1u << ComPortCommand::SetControl;

} // namespace

void LineState::setLearnt(const LineSettings &learnt)
{
    LineSettings next = learnt;
    next.dataBits = wanted.dataBits;
    next.parity = wanted.parity;
    if (next != wanted) {
        wanted = next;
        touch();
    }
}

void LineState::setFraming(quint8 dataBits, LineSettings::Parity parity)
{
    if (dataBits != wanted.dataBits || parity != wanted.parity) {
        wanted.dataBits = dataBits;
        wanted.parity = parity;
        touch();
    }
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
    if (support != supportState) {
        supportState = support;
        touch();
    }
}

void LineState::setModemLines(quint8 state)
{
    if (!modemKnown || state != modem) {
        modemKnown = true;
        modem = state;
        touch();
    }
}

void LineState::setDtr(bool on)
{
    if (on != dtr) {
        dtr = on;
        touch();
    }
}

void LineState::setRts(bool on)
{
    if (on != rts) {
        rts = on;
        touch();
    }
}

QVariantMap LineState::status() const
{
    // In the order of Support.
    static const QString supportTexts[] = { ServiceKeys::kSupportOffline,
        ServiceKeys::kSupportNegotiating, ServiceKeys::kSupportYes, ServiceKeys::kSupportNo };
    QVariantMap lines { { QStringLiteral("dtr"), int(dtr) }, { QStringLiteral("rts"), int(rts) } };
    if (modemKnown) {
        lines.insert(QStringLiteral("cts"), int(bool(modem & ComPortCommand::Cts)));
        lines.insert(QStringLiteral("dsr"), int(bool(modem & ComPortCommand::Dsr)));
        lines.insert(QStringLiteral("cd"), int(bool(modem & ComPortCommand::Cd)));
        lines.insert(QStringLiteral("ri"), int(bool(modem & ComPortCommand::Ri)));
    }
    return {
        { ServiceKeys::kLineSupport, supportTexts[int(supportState)] },
        { ServiceKeys::kLineRequested, fields(wanted, kAllFields) },
        { ServiceKeys::kLineApplied, fields(applied, appliedKnown) },
        { ServiceKeys::kLineModem, lines },
    };
}
