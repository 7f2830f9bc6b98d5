#include "rfc2217session.h"

#include "comportcommand.h"
#include "linestate.h"

#include <cerrno>
#include <sys/socket.h>

namespace {

// Program bytes escaped per send: the wire holds at most twice this.
const int kChunk = 64 * 1024;
// Answers to the peer's requests are dropped while this much waits for it: a peer that floods
// requests and never reads cannot make the wire grow.
const int kMaxAnswers = 64 * 1024;
// Reads of nothing but option traffic before the loop serves others.
const int kMaxOptionRounds = 16;
// How long a peer may leave COM-PORT-OPTION unanswered.
const int kNegotiationMs = 3000;

} // namespace

Rfc2217Session::Rfc2217Session(LineState *state, Reporter report)
    : state(state)
    , report(std::move(report))
    , codec(TelnetCodec::Role::Client)
{
    negotiation.setSingleShot(true);
    negotiation.setInterval(kNegotiationMs);
    connect(&negotiation, &QTimer::timeout, this, &Rfc2217Session::refused);
}

ssize_t Rfc2217Session::send(int fd, const char *data, size_t size)
{
    flush(fd);
    if (!wire.isEmpty()) {
        errno = EAGAIN;
        return -1;
    }
    const int chunk = int(qMin(size, size_t(kChunk)));
    wire.resize(2 * chunk);
    wire.resize(TelnetCodec::escape(data, chunk, wire.data()));
    const ssize_t sent = ::send(fd, wire.constData(), size_t(wire.size()), MSG_NOSIGNAL);
    if (sent < 0 && !DeviceStream::wouldBlock(errno)) {
        const int error = errno;
        wire.clear();
        errno = error;
        return -1;
    }
    wire.remove(0, int(qMax(ssize_t(0), sent)));
    return chunk;
}

ssize_t Rfc2217Session::receive(int fd, char *out, size_t room)
{
    for (int round = 0; round < kMaxOptionRounds; ++round) {
        const ssize_t count = ::recv(fd, out, room, 0);
        if (count <= 0)
            return count;
        const int data = codec.decode(out, int(count), out);
        const QByteArray replies = codec.takeReplies();
        if (wire.size() < kMaxAnswers)
            wire += replies;
        if (codec.hasEvents())
            takeEvents();
        flush(fd);
        if (data > 0)
            return data;
    }
    errno = EAGAIN;
    return -1;
}

// Errors are left for the bridge's next send or receive to find.
void Rfc2217Session::flush(int fd)
{
    if (wire.isEmpty() || fd < 0)
        return;
    const ssize_t sent = ::send(fd, wire.constData(), size_t(wire.size()), MSG_NOSIGNAL);
    if (sent > 0)
        wire.remove(0, int(sent));
}

void Rfc2217Session::linkUp(int fd)
{
    socket = fd;
    sentAny = false;
    sentBreak = false;
    wire = codec.start();
    state->setSupport(LineState::Support::Negotiating);
    negotiation.start();
    flush(socket);
}

void Rfc2217Session::linkDown()
{
    state->setSupport(LineState::Support::Offline);
    negotiation.stop();
    socket = -1;
    sentAny = false;
    wire.clear();
}

void Rfc2217Session::programOpened()
{
    programsOpen = true;
    if (maySend())
        sendSettings(true);
}

void Rfc2217Session::programClosed()
{
    settingsChanged();
    programsOpen = false;
}

void Rfc2217Session::settingsChanged()
{
    if (programsOpen && maySend())
        sendSettings(false);
}

void Rfc2217Session::purge(bool input, bool output)
{
    if (!programsOpen || !maySend())
        return;
    const quint8 buffers = input && output ? ComPortCommand::PurgeBoth
        : input                            ? ComPortCommand::PurgeReceived
                                           : ComPortCommand::PurgeToSend;
    command(ComPortCommand::PurgeData, buffers);
}

bool Rfc2217Session::maySend() const
{
    return socket >= 0 && codec.isLocalOn(TelnetCodec::ComPort);
}

// Only what differs from what the device was last sent, unless all is asked for. A speed of 0
// is not sent: the program hung up, which drops DTR, and the speed in force stays.
void Rfc2217Session::sendSettings(bool all)
{
    const LineSettings &want = state->requested();
    all = all || !sentAny;
    if (want.baud != 0 && (all || want.baud != sent.baud)) {
        command(ComPortCommand::SetBaudRate, want.baud);
        sent.baud = want.baud;
    }
    if (all || want.dataBits != sent.dataBits)
        command(ComPortCommand::SetDataSize, want.dataBits);
    if (all || want.parity != sent.parity)
        command(ComPortCommand::SetParity, quint32(want.parity));
    if (all || want.stopBits != sent.stopBits)
        command(ComPortCommand::SetStopSize, quint32(want.stopBits));
    if (all || want.flow != sent.flow)
        command(ComPortCommand::SetControl, quint32(want.flow));
    const quint32 baud = sent.baud;
    sent = want;
    sent.baud = baud;
    sentAny = true;
    sendControl(all, state->isDtrOn(), &sentDtr, ComPortCommand::DtrOn, ComPortCommand::DtrOff);
    sendControl(all, state->isRtsOn(), &sentRts, ComPortCommand::RtsOn, ComPortCommand::RtsOff);
    // A break the device was never told of needs no end.
    sendControl(
        false, state->isBreakOn(), &sentBreak, ComPortCommand::BreakOn, ComPortCommand::BreakOff);
}

void Rfc2217Session::sendControl(bool all, bool on, bool *sentOn, quint8 onValue, quint8 offValue)
{
    if (all || on != *sentOn)
        command(ComPortCommand::SetControl, on ? onValue : offValue);
    *sentOn = on;
}

void Rfc2217Session::command(quint8 code, quint32 value)
{
    wire += ComPortCommand { code, value }.encode();
    flush(socket);
}

void Rfc2217Session::takeEvents()
{
    for (const TelnetCodec::Event &event : codec.takeEvents()) {
        if (event.option != TelnetCodec::ComPort)
            continue;
        if (event.kind == TelnetCodec::Event::Subnegotiation) {
            ComPortCommand answer;
            if (ComPortCommand::decode(event.payload, &answer) && answer.isAnswer())
                answered(answer);
        } else if (event.local && event.kind == TelnetCodec::Event::OptionOn) {
            negotiation.stop();
            state->setSupport(LineState::Support::Supported);
            command(ComPortCommand::SetModemStateMask, 0xff);
            if (programsOpen)
                sendSettings(true);
        } else if (event.local) {
            refused();
        }
    }
}

void Rfc2217Session::refused()
{
    negotiation.stop();
    state->setSupport(LineState::Support::NotSupported);
    report(QStringLiteral("the device refuses serial settings; data passes, settings do not"));
}

void Rfc2217Session::answered(const ComPortCommand &command)
{
    if (command.clientCode() == ComPortCommand::NotifyModemState) {
        state->setModemLines(quint8(command.value));
        emit modemChanged();
    } else
        state->setApplied(command.clientCode(), command.value);
}
