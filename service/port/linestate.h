#pragma once

#include "linesettings.h"

#include <QVariantMap>

// Everything known of one port's serial line, in one place: what the port asks of it (the
// program's speed, stop bits and flow control with the port's data bits and parity), what the
// device answered it applied, the DTR and RTS the port set and the modem lines the device
// reported. The bridge and the status listing read the same object.
class LineState
{
public:
    enum class Support { Offline, Negotiating, Supported, NotSupported };

    const LineSettings &requested() const { return wanted; }
    // From the program: speed, stop bits and flow control. Data bits and parity stay the port's.
    void setLearnt(const LineSettings &learnt);
    void setFraming(quint8 dataBits, LineSettings::Parity parity);

    void setApplied(quint8 code, quint32 value);
    void setSupport(Support support);
    Support support() const { return supportState; }
    void setModemLines(quint8 state);
    void setDtr(bool on);
    void setRts(bool on);
    bool isDtrOn() const { return dtr; }
    bool isRtsOn() const { return rts; }

    // Grows with every change: listings compare it rather than the whole state.
    quint32 revision() const { return changes; }
    QVariantMap status() const;

private:
    void touch() { ++changes; }

    LineSettings wanted;
    LineSettings applied;
    // Which of applied's fields the device answered, as bits by COM-PORT-OPTION command code.
    quint32 appliedKnown = 0;
    Support supportState = Support::Offline;
    bool dtr = false;
    bool rts = false;
    bool modemKnown = false;
    quint8 modem = 0;
    quint32 changes = 0;
};
