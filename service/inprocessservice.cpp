#include "inprocessservice.h"

#include "connectiontable.h"

#include <cstdlib>
#include <cstring>

// Asked at every call, so kept free of allocations.
bool InProcessService::isSelected()
{
    const char *selected = ::getenv("TIRV_SERVICE");
    return selected && strcmp(selected, "inprocess") == 0;
}

ConnectionTable &InProcessService::table()
{
    static ConnectionTable instance;
    return instance;
}
