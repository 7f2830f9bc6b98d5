#pragma once

#include <QString>

class QRegularExpression;

// Dotted IPv4 addresses as texts: what a person may type in the manual entry or give tirvctl,
// and the one spelling a device is known and dialled by.
namespace Ipv4Address {

// Four groups of ASCII digits, each 0 to 255; a group below 100 may carry one leading zero
// ("01.02.03.04"). Anchored; an entry's validator filters typing with it.
const QRegularExpression &pattern();
bool isValid(const QString &text);
// The address with every group in decimal without leading zeros ("10.77.0.2" for
// "10.77.0.02"); empty when text is not valid.
QString canonical(const QString &text);
// Valid, and written as canonical() writes it.
bool isCanonical(const QString &text);
// The same text, or two valid spellings of one address ("10.0.0.02" and "10.0.0.2").
bool isSameAddress(const QString &a, const QString &b);
// Valid, and an address one device can have: not "this network" (0.0.0.0/8), not multicast
// (224.0.0.0/4), not reserved or the broadcast (240.0.0.0/4, 255.255.255.255).
bool isDeviceAddress(const QString &text);

} // namespace Ipv4Address
