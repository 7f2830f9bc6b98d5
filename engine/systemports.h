#pragma once

#include <QStringList>

// The machine's own serial ports, as the system lists them; asks nothing of the service, so
// the GUI thread may call it.
QStringList localSerialPortNames();

// The serial ports a new virtual port must not collide with: the machine's own serial ports
// plus the COM names of the connection service's ports (which, unlike on other systems, do not
// show up among the system's ports by themselves). De-duplicated, in no particular order. Calls
// the service: for the worker thread and tirvctl only.
QStringList systemSerialPortNames();
