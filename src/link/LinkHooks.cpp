#include "LinkHooks.h"

ResponseLog* CurrentResponseLog = nullptr;
InitRunCounters* CurrentInitRunCounters = nullptr;
BlackListWindowHook* CurrentBlackListWindow = nullptr;
OwnerListHook* CurrentOwnerList = nullptr;
SqlExecutor* CurrentSqlExecutor = nullptr;
