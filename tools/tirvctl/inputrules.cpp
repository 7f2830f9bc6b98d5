#include "inputrules.h"

#include <QRegularExpression>

namespace InputRules {

bool isValidIp(const QString &text)
{
    // 0-99 (a leading zero allowed), 100-199, 200-249 or 250-255; ASCII digits only.
    static const QString octet = QStringLiteral("([0-9]{1,2}|1[0-9][0-9]|2[0-4][0-9]|25[0-5])");
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("%1\\.%1\\.%1\\.%1").arg(octet)));
    return pattern.match(text).hasMatch();
}

bool isComName(const QString &text)
{
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("COM[1-9][0-9]{0,8}")));
    return pattern.match(text).hasMatch();
}

bool isRenameTarget(const QString &text)
{
    return isComName(text) && text.midRef(3).toInt() <= maxComNumber;
}

bool parseInt(const QString &text, int min, int max, int *value)
{
    bool ok = false;
    const int number = text.toInt(&ok, 10);
    if (!ok || number < min || number > max)
        return false;
    *value = number;
    return true;
}

bool isNameField(const QString &text)
{
    return !text.isEmpty() && !text.contains(QLatin1Char('@'));
}

} // namespace InputRules
