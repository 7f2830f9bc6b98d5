#pragma once

#include "linesettings.h"

#include <QVariantMap>

// Everything known of one port's serial line, in one place: what the port asks of it (the
// program's speed, stop bits and flow control with the data bits and parity of the port or of a
// program started by tirv-run), what the device answered it applied, the DTR, RTS and break the
// port set and the modem lines the device reported. The bridge, the line channel and the status
// listing read the same object. A RAW port's line reaches no device: it keeps what programs set.
class LineState
{
public:
    enum class Support { Offline, Negotiating, Supported, NotSupported };
    // Changes of the modem lines so far, as TIOCGICOUNT counts them.
    struct Counts
    {
        quint32 cts = 0;
        quint32 dsr = 0;
        quint32 rng = 0; // RI going off
        quint32 dcd = 0;
    };

    explicit LineState(bool toDevice);

    const LineSettings &requested() const { return wanted; }
    // From the pty: speed, stop bits and flow control; data bits and parity stay as they are.
    // Speed 0 is the program hanging up: DTR goes off, and on again with a speed, while
    // programs hold the port.
    void setLearnt(const LineSettings &learnt);
    void setFraming(quint8 dataBits, LineSettings::Parity parity);
    // A first program opened the port: DTR (unless hung up) and RTS on, no break.
    void openLines();
    // The last one closed it: DTR, RTS and break off.
    void closeLines();

    void setApplied(quint8 code, quint32 value);
    void setSupport(Support support);
    Support support() const { return supportState; }
    void setModemLines(quint8 state);
    void setDtr(bool on);
    void setRts(bool on);
    void setBreak(bool on);
    bool isDtrOn() const { return dtr; }
    bool isRtsOn() const { return rts; }
    bool isBreakOn() const { return breakOn; }
    // The modem lines as a program reads them (TIOCM_ bits): DTR and RTS as set, CTS, DSR, CD
    // and RI as the device last reported them; until it does, CTS, DSR and CD count as on.
    quint32 terminalLines() const;
    const Counts &counts() const { return changed; }

    // Grows with every change: listings compare it rather than the whole state.
    quint32 revision() const { return changes; }
    QVariantMap status() const;

private:
    void touch() { ++changes; }
    // Sets field to value; a change moves the revision.
    template <typename T> void change(T &field, const T &value)
    {
        if (field != value) {
            field = value;
            touch();
        }
    }
    quint8 reportedModem() const;

    // RFC 2217: the line is the device's; RAW: only what programs set.
    bool toDevice;
    LineSettings wanted;
    LineSettings applied;
    // Which of applied's fields the device answered, as bits by COM-PORT-OPTION command code.
    quint32 appliedKnown = 0;
    Support supportState = Support::Offline;
    bool dtr = false;
    bool rts = false;
    bool breakOn = false;
    // Between openLines() and closeLines().
    bool held = false;
    bool modemKnown = false;
    quint8 modem = 0;
    Counts changed;
    quint32 changes = 0;
};
