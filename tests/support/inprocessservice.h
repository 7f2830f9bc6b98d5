#pragma once

class ConnectionTable;
class FaultInjector;

// The connection service of a test program: the daemon's table in the program's own process,
// behind a fault injector. Linking tirv_service_inprocess installs it for the sec_* calls,
// which use it when TIRV_SERVICE=inprocess.
namespace InProcessService {

ConnectionTable &table();
// What the sec_* calls reach.
FaultInjector &faults();

} // namespace InProcessService
