#include "inputrules.h"

#include <QRegularExpression>

namespace InputRules {

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

bool parseProtocol(const QString &text, QString *protocol)
{
    if (text != QLatin1String("raw") && text != QLatin1String("rfc2217"))
        return false;
    *protocol = text.toUpper();
    return true;
}

bool parseOnOff(const QString &text, bool *on)
{
    *on = text == QLatin1String("on");
    return *on || text == QLatin1String("off");
}

bool isNameField(const QString &text)
{
    return !text.isEmpty() && !text.contains(QLatin1Char('@'));
}

} // namespace InputRules
