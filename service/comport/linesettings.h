#pragma once

#include <QString>

#include <termios.h>

// A serial line's settings, numbered as COM-PORT-OPTION numbers them.
struct LineSettings
{
    enum class Parity : quint8 { None = 1, Odd = 2, Even = 3, Mark = 4, Space = 5 };
    enum class StopBits : quint8 { One = 1, Two = 2, OneAndHalf = 3 };
    enum class Flow : quint8 { None = 1, XonXoff = 2, Hardware = 3 };

    // 0 means hang up, as a program asks by setting speed 0.
    quint32 baud = 9600;
    quint8 dataBits = 8;
    Parity parity = Parity::None;
    StopBits stopBits = StopBits::One;
    Flow flow = Flow::None;

    bool operator==(const LineSettings &other) const;
    bool operator!=(const LineSettings &other) const { return !(*this == other); }

    // "19200 8N2", with " RTS/CTS" or " XON/XOFF" when there is flow control.
    QString text() const;
    // "1", "1.5" or "2".
    QString stopBitsText() const;

    // What a terminal's attributes say. A pseudo-terminal always reads 8N1-like here.
    static LineSettings fromTermios(const termios &attributes);
    // Sets speed, size, parity, stop bits and flow control; false when the speed has no
    // terminal rate (the rest is set all the same).
    bool applyTo(termios *attributes) const;

    // "none", "odd", "even", "mark", "space" and back; false for any other word.
    static QString parityName(Parity parity);
    static bool parityFromName(const QString &name, Parity *parity);
};
