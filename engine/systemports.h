#pragma once

#include <QStringList>

// The serial ports a new virtual port must not collide with: the system's serial ports plus
// the COM names of the connection service's own ports (which, unlike on other systems, do not
// show up among the system's ports by themselves). De-duplicated, in no particular order.
QStringList systemSerialPortNames();
