#include "telnetcodec.h"

#include <cstring>

TelnetCodec::TelnetCodec(Role role)
    : role(role)
{
    std::memset(local, No, sizeof local);
    std::memset(remote, No, sizeof remote);
}

QByteArray TelnetCodec::start()
{
    std::memset(local, No, sizeof local);
    std::memset(remote, No, sizeof remote);
    stage = Stage::Data;
    sbPayload.clear();
    replies.clear();
    events.clear();
    // Both roles want 8-bit data both ways; the client also asks to carry the serial settings.
    QByteArray requests;
    const auto ask = [&](OptionState *state, quint8 verb, quint8 option) {
        *state = WantYes;
        requests.append(char(IAC)).append(char(verb)).append(char(option));
    };
    ask(&local[Binary], WILL, Binary);
    ask(&remote[Binary], DO, Binary);
    if (role == Role::Client)
        ask(&local[ComPort], WILL, ComPort);
    else
        ask(&local[SuppressGoAhead], WILL, SuppressGoAhead);
    return requests;
}

int TelnetCodec::decode(const char *in, int size, char *out)
{
    int written = 0;
    int i = 0;
    while (i < size) {
        if (stage == Stage::Data) {
            // Plain data runs up to the next IAC: copied in one go.
            const void *found = std::memchr(in + i, IAC, size_t(size - i));
            const int end = found ? int(static_cast<const char *>(found) - in) : size;
            // out may be in itself: it never runs ahead of the input.
            std::memmove(out + written, in + i, size_t(end - i));
            written += end - i;
            i = end;
            if (found) {
                stage = Stage::Command;
                ++i;
            }
            continue;
        }
        const quint8 byte = quint8(in[i++]);
        switch (stage) {
        case Stage::Command:
            if (byte == IAC) {
                out[written++] = char(IAC);
                stage = Stage::Data;
            } else {
                command(byte);
            }
            break;
        case Stage::Verb:
            verb(byte);
            break;
        case Stage::SbOption:
            sbOption = byte;
            sbPayload.clear();
            stage = Stage::SbData;
            break;
        case Stage::SbData:
            if (byte == IAC)
                stage = Stage::SbCommand;
            else
                written += keepSubnegotiation(byte, out + written);
            break;
        case Stage::SbCommand:
            if (byte == IAC) {
                stage = Stage::SbData;
                written += keepSubnegotiation(IAC, out + written);
            } else if (byte == SE) {
                endSubnegotiation();
            } else {
                // A command inside a subnegotiation: the peer never finished it.
                sbPayload.clear();
                command(byte);
            }
            break;
        case Stage::Data:
            break;
        }
    }
    return written;
}

// A byte of the subnegotiation's payload; returns how many bytes went to out as data.
int TelnetCodec::keepSubnegotiation(quint8 byte, char *out)
{
    if (sbPayload.size() < kMaxSubnegotiation) {
        sbPayload.append(char(byte));
        return 0;
    }
    // Far too long to be ours: drop it and read on as data.
    sbPayload.clear();
    stage = Stage::Data;
    *out = char(byte);
    return 1;
}

void TelnetCodec::command(quint8 byte)
{
    if (byte >= WILL && byte <= DONT) {
        pendingVerb = byte;
        stage = Stage::Verb;
    } else if (byte == SB) {
        stage = Stage::SbOption;
    } else {
        // NOP, go-ahead, a stray SE or anything undefined: nothing to do.
        stage = Stage::Data;
    }
}

void TelnetCodec::verb(quint8 option)
{
    stage = Stage::Data;
    switch (pendingVerb) {
    case WILL:
    case WONT:
        negotiate(&remote[option], accepts(false, option), false, option, pendingVerb == WILL);
        break;
    default:
        negotiate(&local[option], accepts(true, option), true, option, pendingVerb == DO);
        break;
    }
}

// One side of one option: a request is answered only when it changes something, so two
// parties following this rule never loop.
void TelnetCodec::negotiate(OptionState *state, bool agree, bool local, quint8 option, bool on)
{
    const quint8 yes = local ? WILL : DO;
    const quint8 no = local ? WONT : DONT;
    const OptionState before = *state;
    if (on) {
        if (before == Yes)
            return;
        if (!agree) {
            reply(no, option);
            *state = No;
            if (before == WantYes)
                events.append({ Event::OptionOff, local, option, {} });
            return;
        }
        if (before == No)
            reply(yes, option);
        *state = Yes;
        events.append({ Event::OptionOn, local, option, {} });
        return;
    }
    if (before == No)
        return;
    if (before == Yes)
        reply(no, option);
    *state = No;
    events.append({ Event::OptionOff, local, option, {} });
}

void TelnetCodec::endSubnegotiation()
{
    stage = Stage::Data;
    events.append({ Event::Subnegotiation, false, sbOption, sbPayload });
    sbPayload.clear();
}

void TelnetCodec::reply(quint8 verb, quint8 option)
{
    if (replies.size() + 3 > kMaxReplies)
        return;
    replies.append(char(IAC)).append(char(verb)).append(char(option));
}

bool TelnetCodec::accepts(bool local, quint8 option) const
{
    if (option == Binary || option == SuppressGoAhead)
        return true;
    // COM-PORT-OPTION is performed by the client (WILL) and accepted by the server (DO).
    return option == ComPort && local == (role == Role::Client);
}

QByteArray TelnetCodec::takeReplies()
{
    QByteArray taken;
    taken.swap(replies);
    return taken;
}

QList<TelnetCodec::Event> TelnetCodec::takeEvents()
{
    QList<Event> taken;
    taken.swap(events);
    return taken;
}

int TelnetCodec::escape(const char *in, int size, char *out)
{
    int written = 0;
    int i = 0;
    while (i < size) {
        const void *found = std::memchr(in + i, IAC, size_t(size - i));
        const int end = found ? int(static_cast<const char *>(found) - in) + 1 : size;
        std::memcpy(out + written, in + i, size_t(end - i));
        written += end - i;
        i = end;
        if (found)
            out[written++] = char(IAC);
    }
    return written;
}

QByteArray TelnetCodec::subnegotiation(quint8 option, const QByteArray &payload)
{
    QByteArray bytes;
    bytes.reserve(payload.size() * 2 + 5);
    bytes.append(char(IAC)).append(char(SB)).append(char(option));
    for (const char byte : payload) {
        bytes.append(byte);
        if (quint8(byte) == IAC)
            bytes.append(char(IAC));
    }
    bytes.append(char(IAC)).append(char(SE));
    return bytes;
}
