#pragma once

#include <QByteArray>
#include <QList>

// The Telnet side of a connection (option negotiation, 0xFF doubling, subnegotiations) as a
// pure state machine: bytes from the peer go in, data, answers and events come out. It agrees
// only to the options its role knows and refuses every other, answering each request once in
// the way that cannot start a negotiation loop.
class TelnetCodec
{
public:
    enum Byte : quint8 {
        SE = 240,
        NOP = 241,
        SB = 250,
        WILL = 251,
        WONT = 252,
        DO = 253,
        DONT = 254,
        IAC = 255,
    };
    enum Option : quint8 {
        Binary = 0,
        SuppressGoAhead = 3,
        ComPort = 44,
    };
    // The client asks the server to carry COM-PORT-OPTION; the server accepts it.
    enum class Role { Client, Server };

    struct Event
    {
        enum Kind {
            OptionOn, // the option is now in effect
            OptionOff, // refused, or no longer in effect
            Subnegotiation, // payload holds the undoubled bytes after the option
        };
        Kind kind;
        bool local; // our side performs the option (WILL/WONT), else the peer (DO/DONT)
        quint8 option;
        QByteArray payload;
    };

    // Longest subnegotiation kept; a longer one is dropped and its bytes read as data.
    static constexpr int kMaxSubnegotiation = 256;
    // Answers not yet taken beyond this are dropped: a peer that floods requests and never
    // reads cannot make them grow.
    static constexpr int kMaxReplies = 4096;

    explicit TelnetCodec(Role role);

    // What to send once connected: the requests of this role. Resets every option.
    QByteArray start();

    // Reads bytes from the peer. Data goes to out, which has room for size bytes and may be in
    // itself (decoding in place); returns how many. Answers and events wait in takeReplies() and
    // takeEvents().
    int decode(const char *in, int size, char *out);
    QByteArray takeReplies();
    QList<Event> takeEvents();
    bool hasEvents() const { return !events.isEmpty(); }

    bool isLocalOn(quint8 option) const { return local[option] == Yes; }

    // Data for the wire: every 0xFF doubled. out has room for 2 * size bytes; returns how many
    // were written.
    static int escape(const char *in, int size, char *out);
    // IAC SB option payload IAC SE, with 0xFF in the payload doubled.
    static QByteArray subnegotiation(quint8 option, const QByteArray &payload);

private:
    enum OptionState : quint8 { No, Yes, WantYes };
    enum class Stage { Data, Command, Verb, SbOption, SbData, SbCommand };

    int keepSubnegotiation(quint8 byte, char *out);
    void command(quint8 byte);
    void verb(quint8 option);
    void negotiate(OptionState *state, bool agree, bool local, quint8 option, bool on);
    void endSubnegotiation();
    void reply(quint8 verb, quint8 option);
    bool accepts(bool local, quint8 option) const;

    Role role;
    Stage stage = Stage::Data;
    quint8 pendingVerb = 0;
    quint8 sbOption = 0;
    QByteArray sbPayload;
    OptionState local[256];
    OptionState remote[256];
    QByteArray replies;
    QList<Event> events;
};
