#include "simulatedline.h"

#include <termios.h>

SimulatedLine::SimulatedLine(int ptySide)
    : ptySide(ptySide)
{
}

quint32 SimulatedLine::apply(const ComPortCommand &command)
{
    switch (command.code) {
    case ComPortCommand::SetBaudRate:
    case ComPortCommand::SetDataSize:
    case ComPortCommand::SetParity:
    case ComPortCommand::SetStopSize:
        return applySetting(command);
    case ComPortCommand::SetControl:
        return applyControl(command.value);
    case ComPortCommand::SetModemStateMask:
    case ComPortCommand::PurgeData:
        return command.value;
    default:
        return 0;
    }
}

quint8 SimulatedLine::modemState() const
{
    quint8 state = 0;
    if (dtr)
        state |= ComPortCommand::Dsr | ComPortCommand::Cd;
    if (rts)
        state |= ComPortCommand::Cts;
    return state;
}

// Value 0 asks for the setting in force; anything else sets it. The answer is what the line
// holds afterwards, read back from the pseudo-terminal when there is one.
quint32 SimulatedLine::applySetting(const ComPortCommand &command)
{
    const quint32 value = command.value;
    LineSettings wanted = line;
    if (value != 0) {
        if (command.code == ComPortCommand::SetBaudRate)
            wanted.baud = value;
        else if (command.code == ComPortCommand::SetDataSize && value >= 5 && value <= 8)
            wanted.dataBits = quint8(value);
        else if (command.code == ComPortCommand::SetParity && value <= 5)
            wanted.parity = LineSettings::Parity(value);
        else if (command.code == ComPortCommand::SetStopSize && value <= 3)
            wanted.stopBits = LineSettings::StopBits(value);
    }
    termios attributes;
    if (ptySide >= 0 && tcgetattr(ptySide, &attributes) == 0 && wanted.applyTo(&attributes)
        && tcsetattr(ptySide, TCSANOW, &attributes) == 0 && tcgetattr(ptySide, &attributes) == 0) {
        line = LineSettings::fromTermios(attributes);
        line.flow = wanted.flow;
    } else if (ptySide < 0) {
        line = wanted;
    }
    switch (command.code) {
    case ComPortCommand::SetBaudRate:
        return line.baud;
    case ComPortCommand::SetDataSize:
        return line.dataBits;
    case ComPortCommand::SetParity:
        return quint32(line.parity);
    default:
        return quint32(line.stopBits);
    }
}

quint32 SimulatedLine::applyControl(quint32 value)
{
    switch (value) {
    case 0:
        return quint32(line.flow);
    case 1:
    case 2:
    case 3:
        line.flow = LineSettings::Flow(value);
        return value;
    case 7:
        return dtr ? ComPortCommand::DtrOn : ComPortCommand::DtrOff;
    case ComPortCommand::DtrOn:
    case ComPortCommand::DtrOff:
        dtr = value == ComPortCommand::DtrOn;
        return value;
    case 10:
        return rts ? ComPortCommand::RtsOn : ComPortCommand::RtsOff;
    case ComPortCommand::RtsOn:
    case ComPortCommand::RtsOff:
        rts = value == ComPortCommand::RtsOn;
        return value;
    default:
        return value;
    }
}
