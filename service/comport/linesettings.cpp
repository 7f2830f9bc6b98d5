#include "linesettings.h"

namespace {

struct Rate
{
    speed_t code;
    quint32 baud;
};

const Rate kRates[] = { { B0, 0 }, { B50, 50 }, { B75, 75 }, { B110, 110 }, { B134, 134 },
    { B150, 150 }, { B200, 200 }, { B300, 300 }, { B600, 600 }, { B1200, 1200 }, { B1800, 1800 },
    { B2400, 2400 }, { B4800, 4800 }, { B9600, 9600 }, { B19200, 19200 }, { B38400, 38400 },
    { B57600, 57600 }, { B115200, 115200 }, { B230400, 230400 }, { B460800, 460800 },
    { B500000, 500000 }, { B576000, 576000 }, { B921600, 921600 }, { B1000000, 1000000 },
    { B1152000, 1152000 }, { B1500000, 1500000 }, { B2000000, 2000000 }, { B2500000, 2500000 },
    { B3000000, 3000000 }, { B3500000, 3500000 }, { B4000000, 4000000 } };

const char kParityLetters[] = { 'N', 'O', 'E', 'M', 'S' };
const char *const kParityNames[] = { "none", "odd", "even", "mark", "space" };

} // namespace

bool LineSettings::operator==(const LineSettings &other) const
{
    return baud == other.baud && dataBits == other.dataBits && parity == other.parity
        && stopBits == other.stopBits && flow == other.flow;
}

QString LineSettings::text() const
{
    QString result = QStringLiteral("%1 %2%3%4")
                         .arg(baud)
                         .arg(dataBits)
                         .arg(QLatin1Char(kParityLetters[int(parity) - 1]))
                         .arg(stopBitsText());
    if (flow == Flow::Hardware)
        result += QStringLiteral(" RTS/CTS");
    else if (flow == Flow::XonXoff)
        result += QStringLiteral(" XON/XOFF");
    return result;
}

QString LineSettings::stopBitsText() const
{
    return stopBits == StopBits::OneAndHalf ? QStringLiteral("1.5")
                                            : QString::number(stopBits == StopBits::Two ? 2 : 1);
}

LineSettings LineSettings::fromTermios(const termios &attributes)
{
    LineSettings line;
    const speed_t code = cfgetospeed(&attributes);
    for (const Rate &rate : kRates) {
        if (rate.code == code)
            line.baud = rate.baud;
    }
    switch (attributes.c_cflag & CSIZE) {
    case CS5:
        line.dataBits = 5;
        break;
    case CS6:
        line.dataBits = 6;
        break;
    case CS7:
        line.dataBits = 7;
        break;
    default:
        line.dataBits = 8;
        break;
    }
    if (attributes.c_cflag & PARENB) {
        const bool odd = attributes.c_cflag & PARODD;
        if (attributes.c_cflag & CMSPAR)
            line.parity = odd ? Parity::Mark : Parity::Space;
        else
            line.parity = odd ? Parity::Odd : Parity::Even;
    }
    line.stopBits = (attributes.c_cflag & CSTOPB) ? StopBits::Two : StopBits::One;
    if (attributes.c_cflag & CRTSCTS)
        line.flow = Flow::Hardware;
    else if (attributes.c_iflag & (IXON | IXOFF))
        line.flow = Flow::XonXoff;
    return line;
}

bool LineSettings::applyTo(termios *attributes) const
{
    static const tcflag_t sizes[] = { CS5, CS6, CS7, CS8 };
    attributes->c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    attributes->c_cflag |= sizes[qBound(5, int(dataBits), 8) - 5];
    if (parity != Parity::None)
        attributes->c_cflag |= PARENB;
    if (parity == Parity::Odd || parity == Parity::Mark)
        attributes->c_cflag |= PARODD;
    if (parity == Parity::Mark || parity == Parity::Space)
        attributes->c_cflag |= CMSPAR;
    if (stopBits != StopBits::One)
        attributes->c_cflag |= CSTOPB;
    attributes->c_iflag &= ~(IXON | IXOFF);
    if (flow == Flow::Hardware)
        attributes->c_cflag |= CRTSCTS;
    else if (flow == Flow::XonXoff)
        attributes->c_iflag |= IXON | IXOFF;
    for (const Rate &rate : kRates) {
        if (rate.baud == baud) {
            cfsetspeed(attributes, rate.code);
            return true;
        }
    }
    return false;
}

QString LineSettings::parityName(Parity parity)
{
    return QString::fromLatin1(kParityNames[int(parity) - 1]);
}

bool LineSettings::parityFromName(const QString &name, Parity *parity)
{
    for (int i = 0; i < 5; ++i) {
        if (name == QLatin1String(kParityNames[i])) {
            *parity = Parity(i + 1);
            return true;
        }
    }
    return false;
}
