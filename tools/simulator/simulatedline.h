#pragma once

#include "comportcommand.h"
#include "linesettings.h"

#include <QString>

// The serial line of one simulated device port as COM-PORT-OPTION commands set it: its
// settings (put on the pseudo-terminal that stands for the line, when there is one) and its
// modem lines, wired as a null-modem plug would (DTR drives DSR and CD, RTS drives CTS).
class SimulatedLine
{
public:
    // ptySide: the descriptor of the line's pseudo-terminal, or -1.
    explicit SimulatedLine(int ptySide = -1);

    // Carries out a client's command and returns the value the answer reports.
    quint32 apply(const ComPortCommand &command);
    quint8 modemState() const;

private:
    quint32 applySetting(const ComPortCommand &command);
    quint32 applyControl(quint32 value);

    int ptySide;
    LineSettings line;
    bool dtr = false;
    bool rts = false;
};
