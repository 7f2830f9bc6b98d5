#pragma once

#include "devicestream.h"
#include "linesettings.h"
#include "telnetcodec.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

class LineState;
struct ComPortCommand;

// A port's Telnet connection with COM-PORT-OPTION (the client's side). Data is escaped and
// unescaped on the way; the line's settings and control lines (DTR, RTS, break) go out when the
// first program opens the port, after a reconnect while it is open, and whenever they change,
// but never while nobody has it open. Answers are read as they come and kept in the LineState;
// nothing waits for them.
class Rfc2217Session : public QObject, public DeviceStream
{
    Q_OBJECT

public:
    using Reporter = std::function<void(const QString &)>;

    Rfc2217Session(LineState *state, Reporter report);

    ssize_t send(int fd, const char *data, size_t size) override;
    ssize_t receive(int fd, char *out, size_t room) override;
    bool hasPending() const override { return !wire.isEmpty(); }
    void flush(int fd) override;

    // The bridge's moments: the connection came up or went, the first program opened the
    // port or the last one closed it (what changed at the close still goes out), the line
    // state changed, the program flushed.
    void linkUp(int fd);
    void linkDown();
    void programOpened();
    void programClosed();
    void settingsChanged();
    void purge(bool input, bool output);

signals:
    // The device reported other modem lines.
    void modemChanged();

private:
    bool maySend() const;
    void sendSettings(bool all);
    void sendControl(bool all, bool on, bool *sentOn, quint8 onValue, quint8 offValue);
    void command(quint8 code, quint32 value);
    void takeEvents();
    void answered(const ComPortCommand &command);
    void refused();

    LineState *state;
    Reporter report;
    TelnetCodec codec;
    int socket = -1;
    // Bytes for the socket that it has not taken yet: escaped data, commands, answers.
    QByteArray wire;
    bool programsOpen = false;
    // What went to the device since the connection came up; none yet when !sentAny.
    bool sentAny = false;
    LineSettings sent;
    bool sentDtr = false;
    bool sentRts = false;
    bool sentBreak = false;
    // A peer that never answers COM-PORT-OPTION is taken to refuse it.
    QTimer negotiation;
};
