#pragma once

#include <QByteArray>
#include <QString>

// A COM-PORT-OPTION command: what goes between IAC SB 44 and IAC SE. The server answers a
// client's command with the command number plus 100 and the value it applied.
struct ComPortCommand
{
    enum Code : quint8 {
        Signature = 0,
        SetBaudRate = 1,
        SetDataSize = 2,
        SetParity = 3,
        SetStopSize = 4,
        SetControl = 5,
        NotifyLineState = 6,
        NotifyModemState = 7,
        FlowControlSuspend = 8,
        FlowControlResume = 9,
        SetLineStateMask = 10,
        SetModemStateMask = 11,
        PurgeData = 12,
    };
    // Values of SET-CONTROL beside the outbound flow control (1 to 3).
    enum Control : quint8 {
        BreakOn = 5,
        BreakOff = 6,
        DtrOn = 8,
        DtrOff = 9,
        RtsOn = 11,
        RtsOff = 12,
    };
    // PURGE-DATA: the server's buffer of bytes from the line, of bytes to it, or both.
    enum Purge : quint8 { PurgeReceived = 1, PurgeToSend = 2, PurgeBoth = 3 };
    // NOTIFY-MODEMSTATE bits.
    enum Modem : quint8 { Cts = 0x10, Dsr = 0x20, Ri = 0x40, Cd = 0x80 };
    static constexpr quint8 kServerOffset = 100;

    quint8 code = Signature;
    // The value as a number; SET-BAUDRATE carries four bytes, the others one.
    quint32 value = 0;

    // The command's code as the client numbers it, whichever side sent it.
    quint8 clientCode() const { return code >= kServerOffset ? code - kServerOffset : code; }
    bool isAnswer() const { return code >= kServerOffset; }

    // The whole subnegotiation on the wire, 0xFF doubled.
    QByteArray encode() const;
    // Reads a COM-PORT-OPTION payload; false when it is too short for its command.
    static bool decode(const QByteArray &payload, ComPortCommand *command);
    // "SET-BAUDRATE" and so on, for logs.
    static QString name(quint8 code);
};
