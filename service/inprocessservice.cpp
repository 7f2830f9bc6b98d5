#include "inprocessservice.h"

#include "connectiontable.h"

bool InProcessService::isSelected()
{
    return qEnvironmentVariable("TIRV_SERVICE") == QLatin1String("inprocess");
}

ConnectionTable &InProcessService::table()
{
    static ConnectionTable instance;
    return instance;
}
