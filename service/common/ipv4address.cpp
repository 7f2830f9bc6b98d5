#include "ipv4address.h"

#include <QRegularExpression>
#include <QStringList>

namespace Ipv4Address {

const QRegularExpression &pattern()
{
    // [0-9], not \d: no later step reads the digits of other scripts as a number.
    static const QString group = QStringLiteral("([0-9]{1,2}|1[0-9]{2}|2[0-4][0-9]|25[0-5])");
    static const QRegularExpression expression(
        QRegularExpression::anchoredPattern(QStringLiteral("%1\\.%1\\.%1\\.%1").arg(group)));
    return expression;
}

bool isValid(const QString &text)
{
    return pattern().match(text).hasMatch();
}

QString canonical(const QString &text)
{
    if (!isValid(text))
        return QString();
    QStringList groups = text.split(QLatin1Char('.'));
    for (QString &group : groups)
        group = QString::number(group.toInt());
    return groups.join(QLatin1Char('.'));
}

bool isCanonical(const QString &text)
{
    return !text.isEmpty() && canonical(text) == text;
}

bool isSameAddress(const QString &a, const QString &b)
{
    if (a == b)
        return true;
    const QString address = canonical(a);
    return !address.isEmpty() && canonical(b) == address;
}

bool isDeviceAddress(const QString &text)
{
    const int first = canonical(text).section(QLatin1Char('.'), 0, 0).toInt();
    return isValid(text) && first != 0 && first < 224;
}

} // namespace Ipv4Address
