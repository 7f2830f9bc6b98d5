#pragma once

#include "comnumbers.h"

#include <QString>

// What tirvctl accepts on its command line, checked before anything reaches the service.
namespace InputRules {

constexpr int minPortCount = 1;
constexpr int maxPortCount = 48;
// "COM" followed by a decimal number without a leading zero.
bool isComName(const QString &text);
// A COM name that a port may be renamed to: COM1 to COM255.
bool isRenameTarget(const QString &text);
// A decimal integer within [min, max]; the number in *value.
bool parseInt(const QString &text, int min, int max, int *value);
// "raw" or "rfc2217" as the service names them ("RAW", "RFC2217").
bool parseProtocol(const QString &text, QString *protocol);
// "on" or "off".
bool parseOnOff(const QString &text, bool *on);
// Texts that go into a connection name must not hold its "@" separator or be empty.
bool isNameField(const QString &text);

} // namespace InputRules
