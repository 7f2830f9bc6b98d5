#include "inprocessservice.h"

#include "connectiontable.h"
#include "faultinjector.h"
#include "secapi.h"

namespace {

ConnectionService &calledService()
{
    return InProcessService::faults();
}

// Runs before main(): an object library is linked whole, so every program that names it
// installs the table.
const bool installed = (setInProcessService(&calledService), true);

} // namespace

namespace InProcessService {

ConnectionTable &table()
{
    static ConnectionTable instance;
    return instance;
}

FaultInjector &faults()
{
    static FaultInjector injector(table());
    return injector;
}

} // namespace InProcessService
