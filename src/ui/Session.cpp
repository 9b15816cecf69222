#include "Session.h"

#include "link/ProgramState.h"
#include "store/Dialogs.h"
#include "store/OperationLog.h"
#include "store/SaveLoad.h"

QString LevelName(int level)
{
    // The names the operation log records, for the three levels an operator logs in at.
    return level >= 0 && level <= 2 ? LogLevelName(level) : QString();
}

bool CardIssuerAttached()
{
    return CardIssuerDevice != nullptr;
}

bool RequireCardIssuer()
{
    if (CardIssuerAttached())
        return true;
    ShowMessage(QStringLiteral("请插入发卡器"));
    return false;
}

bool RequireRegionID()
{
    if (RegionIdSet())
        return true;
    ShowRefusal(QString::fromUtf8(NoRegionIDText));
    return false;
}

bool RequireSupervisor()
{
    if (OperatorLevel == 1 || OperatorLevel == 2)
        return true;
    ShowMessage(QString::fromUtf8(SupervisorOnlyText));
    return false;
}
