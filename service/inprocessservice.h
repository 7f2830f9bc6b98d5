#pragma once

class ConnectionTable;

// The connection table that the sec_* calls use when TIRV_SERVICE=inprocess.
class InProcessService
{
public:
    static bool isSelected();
    static ConnectionTable &table();
};
