#include "comportcommand.h"
#include "linesettings.h"
#include "telnetcodec.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray result;
    for (int value : values)
        result.append(char(value));
    return result;
}

const int IAC = 255, SB = 250, SE = 240, WILL = 251, WONT = 252, DO = 253, DONT = 254;

QByteArray decodeAll(TelnetCodec &codec, const QByteArray &in)
{
    QByteArray out(in.size(), Qt::Uninitialized);
    out.resize(codec.decode(in.constData(), in.size(), out.data()));
    return out;
}

// Events as text, "on L44", "off R0", "sb 44 0165".
QStringList eventTexts(TelnetCodec &codec)
{
    QStringList texts;
    for (const TelnetCodec::Event &event : codec.takeEvents()) {
        if (event.kind == TelnetCodec::Event::Subnegotiation)
            texts << QStringLiteral("sb %1 %2")
                         .arg(event.option)
                         .arg(QString::fromLatin1(event.payload.toHex()));
        else
            texts << QStringLiteral("%1 %2%3")
                         .arg(event.kind == TelnetCodec::Event::OptionOn ? "on" : "off")
                         .arg(event.local ? 'L' : 'R')
                         .arg(event.option);
    }
    return texts;
}

} // namespace

class TestTelnetCodec : public QObject
{
    Q_OBJECT

private slots:
    void clientStartsWithItsRequests();
    void decode_data();
    void decode();
    void escapeDoublesEveryFF();
    void comPortCommands_data();
    void comPortCommands();
    void survivesGarbage();
    void floodedRequestsStayBounded();
    void lineSettingsRoundTripThroughTermios_data();
    void lineSettingsRoundTripThroughTermios();
};

void TestTelnetCodec::clientStartsWithItsRequests()
{
    TelnetCodec client(TelnetCodec::Role::Client);
    QCOMPARE(client.start(), bytes({ IAC, WILL, 0, IAC, DO, 0, IAC, WILL, 44 }));
    TelnetCodec server(TelnetCodec::Role::Server);
    QCOMPARE(server.start(), bytes({ IAC, WILL, 0, IAC, DO, 0, IAC, WILL, 3 }));
}

void TestTelnetCodec::decode_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("replies");
    QTest::addColumn<QStringList>("events");

    QTest::newRow("plain data") << QByteArray("abc\r\n\0x", 7) << QByteArray("abc\r\n\0x", 7)
                                << QByteArray() << QStringList();
    QTest::newRow("doubled FF") << bytes({ 1, IAC, IAC, IAC, IAC, 2 }) << bytes({ 1, IAC, IAC, 2 })
                                << QByteArray() << QStringList();
    // Answers to our own requests are not answered again.
    QTest::newRow("server agrees")
        << bytes({ IAC, DO, 44, IAC, DO, 0, IAC, WILL, 0 }) << QByteArray() << QByteArray()
        << QStringList { "on L44", "on L0", "on R0" };
    QTest::newRow("server refuses com port") << bytes({ IAC, DONT, 44, 'x' }) << QByteArray("x")
                                             << QByteArray() << QStringList { "off L44" };
    QTest::newRow("unknown options refused")
        << bytes({ IAC, DO, 24, IAC, WILL, 31 }) << QByteArray()
        << bytes({ IAC, WONT, 24, IAC, DONT, 31 }) << QStringList();
    // A client never takes the server's side of COM-PORT-OPTION, nor echo.
    QTest::newRow("server-side options refused")
        << bytes({ IAC, WILL, 44, IAC, WILL, 1 }) << QByteArray()
        << bytes({ IAC, DONT, 44, IAC, DONT, 1 }) << QStringList();
    QTest::newRow("suppress go-ahead agreed") << bytes({ IAC, WILL, 3 }) << QByteArray()
                                              << bytes({ IAC, DO, 3 }) << QStringList { "on R3" };
    QTest::newRow("agreed option withdrawn")
        << bytes({ IAC, WILL, 0, IAC, WONT, 0, IAC, WONT, 0 }) << QByteArray()
        << bytes({ IAC, DONT, 0 }) << QStringList { "on R0", "off R0" };
    QTest::newRow("subnegotiation with doubled FF")
        << bytes({ 'a', IAC, SB, 44, 101, 0, 0, IAC, IAC, 0, IAC, SE, 'b' }) << QByteArray("ab")
        << QByteArray() << QStringList { "sb 44 650000ff00" };
    // Doubled FFs count towards the limit like any byte: past it they read as data.
    QTest::newRow("overlong subnegotiation of doubled FF")
        << bytes({ IAC, SB, 44 }) + QByteArray(600, char(IAC)) + bytes({ IAC, SE, 'z' })
        << QByteArray(44, char(IAC)) + "z" << QByteArray() << QStringList();
    QTest::newRow("nop and stray commands ignored")
        << bytes({ IAC, 241, 'a', IAC, SE, IAC, 7, 'b' }) << QByteArray("ab") << QByteArray()
        << QStringList();
    QTest::newRow("unfinished subnegotiation, then a command")
        << bytes({ IAC, SB, 44, 1, 2, IAC, WILL, 0, 'z' }) << QByteArray("z") << QByteArray()
        << QStringList { "on R0" };
}

void TestTelnetCodec::decode()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, replies);
    QFETCH(QStringList, events);
    TelnetCodec codec(TelnetCodec::Role::Client);
    codec.start();
    // Fed one byte at a time as well as whole: a split anywhere must not matter.
    QByteArray split;
    for (char byte : input)
        split += decodeAll(codec, QByteArray(1, byte));
    QCOMPARE(split, data);
    const QByteArray splitReplies = codec.takeReplies();
    const QStringList splitEvents = eventTexts(codec);
    codec.start();
    QCOMPARE(decodeAll(codec, input), data);
    QCOMPARE(codec.takeReplies(), replies);
    QCOMPARE(eventTexts(codec), events);
    QCOMPARE(splitReplies, replies);
    QCOMPARE(splitEvents, events);
}

void TestTelnetCodec::escapeDoublesEveryFF()
{
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(char(i));
    all += bytes({ IAC, IAC, IAC });
    QByteArray wire(all.size() * 2, Qt::Uninitialized);
    wire.resize(TelnetCodec::escape(all.constData(), all.size(), wire.data()));
    QCOMPARE(wire.size(), all.size() + 4);
    QVERIFY(wire.endsWith(bytes({ IAC, IAC, IAC, IAC, IAC, IAC })));
    TelnetCodec codec(TelnetCodec::Role::Server);
    QCOMPARE(decodeAll(codec, wire), all);
}

void TestTelnetCodec::comPortCommands_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<quint32>("value");
    QTest::addColumn<QByteArray>("wire");

    QTest::newRow("SET-BAUDRATE 19200")
        << 1 << quint32(19200) << bytes({ IAC, SB, 44, 1, 0, 0, 0x4b, 0, IAC, SE });
    // 0xFF inside a value is doubled like data.
    QTest::newRow("SET-BAUDRATE with an FF byte")
        << 1 << quint32(0xff00) << bytes({ IAC, SB, 44, 1, 0, 0, IAC, IAC, 0, IAC, SE });
    QTest::newRow("SET-CONTROL DTR on") << 5 << quint32(8) << bytes({ IAC, SB, 44, 5, 8, IAC, SE });
    QTest::newRow("SET-MODEMSTATE-MASK all")
        << 11 << quint32(255) << bytes({ IAC, SB, 44, 11, IAC, IAC, IAC, SE });
    QTest::newRow("answer to SET-STOPSIZE")
        << 104 << quint32(2) << bytes({ IAC, SB, 44, 104, 2, IAC, SE });
}

void TestTelnetCodec::comPortCommands()
{
    QFETCH(int, code);
    QFETCH(quint32, value);
    QFETCH(QByteArray, wire);
    const ComPortCommand command { quint8(code), value };
    QCOMPARE(command.encode(), wire);
    TelnetCodec codec(TelnetCodec::Role::Server);
    QVERIFY(decodeAll(codec, wire).isEmpty());
    const QList<TelnetCodec::Event> events = codec.takeEvents();
    QCOMPARE(events.size(), 1);
    ComPortCommand decoded;
    QVERIFY(ComPortCommand::decode(events.first().payload, &decoded));
    QCOMPARE(int(decoded.code), code);
    QCOMPARE(decoded.value, value);
    QVERIFY(!ComPortCommand::decode(bytes({ 1, 0, 0 }), &decoded));
}

// Whatever a peer sends, the codec gives out no more than it got, and plain data after a
// subnegotiation's worth of bytes comes through again.
void TestTelnetCodec::survivesGarbage()
{
    QRandomGenerator random(2217);
    TelnetCodec codec(TelnetCodec::Role::Client);
    codec.start();
    for (int round = 0; round < 200; ++round) {
        QByteArray junk(int(random.bounded(1, 600)), Qt::Uninitialized);
        for (char &byte : junk)
            byte = char(
                random.bounded(4) == 0 ? IAC - int(random.bounded(16)) : random.bounded(256));
        QVERIFY(decodeAll(codec, junk).size() <= junk.size());
        QVERIFY(codec.takeReplies().size() <= TelnetCodec::kMaxReplies);
        for (const TelnetCodec::Event &event : codec.takeEvents())
            QVERIFY(event.payload.size() <= TelnetCodec::kMaxSubnegotiation);
        const QByteArray recovered = decodeAll(codec, QByteArray(300, 'x') + "hello");
        QVERIFY2(recovered.endsWith("hello"), qPrintable(QString::number(round)));
        codec.takeEvents();
    }
}

void TestTelnetCodec::floodedRequestsStayBounded()
{
    TelnetCodec codec(TelnetCodec::Role::Client);
    codec.start();
    QByteArray flood;
    for (int i = 0; i < 10000; ++i)
        flood += bytes({ IAC, DO, 99 });
    QVERIFY(decodeAll(codec, flood).isEmpty());
    QVERIFY(codec.takeReplies().size() <= TelnetCodec::kMaxReplies);
    QVERIFY(codec.takeEvents().isEmpty());
}

void TestTelnetCodec::lineSettingsRoundTripThroughTermios_data()
{
    using L = LineSettings;
    QTest::addColumn<quint32>("baud");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<int>("flow");
    QTest::addColumn<QString>("text");

    QTest::newRow("9600 8N1") << quint32(9600) << 8 << int(L::Parity::None) << int(L::StopBits::One)
                              << int(L::Flow::None) << "9600 8N1";
    QTest::newRow("19200 7E2 hardware")
        << quint32(19200) << 7 << int(L::Parity::Even) << int(L::StopBits::Two)
        << int(L::Flow::Hardware) << "19200 7E2 RTS/CTS";
    QTest::newRow("115200 5M1 xon/xoff")
        << quint32(115200) << 5 << int(L::Parity::Mark) << int(L::StopBits::One)
        << int(L::Flow::XonXoff) << "115200 5M1 XON/XOFF";
    QTest::newRow("hang-up 6S1") << quint32(0) << 6 << int(L::Parity::Space)
                                 << int(L::StopBits::One) << int(L::Flow::None) << "0 6S1";
}

void TestTelnetCodec::lineSettingsRoundTripThroughTermios()
{
    QFETCH(quint32, baud);
    QFETCH(int, dataBits);
    QFETCH(int, parity);
    QFETCH(int, stopBits);
    QFETCH(int, flow);
    QFETCH(QString, text);
    LineSettings line;
    line.baud = baud;
    line.dataBits = quint8(dataBits);
    line.parity = LineSettings::Parity(parity);
    line.stopBits = LineSettings::StopBits(stopBits);
    line.flow = LineSettings::Flow(flow);
    termios attributes {};
    QVERIFY(line.applyTo(&attributes));
    QCOMPARE(LineSettings::fromTermios(attributes), line);
    QCOMPARE(line.text(), text);
}

QTEST_APPLESS_MAIN(TestTelnetCodec)
#include "tst_telnetcodec.moc"
