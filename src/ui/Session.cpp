#include "Session.h"

#include "link/ProgramState.h"
#include "store/Dialogs.h"
#include "store/SaveLoad.h"

QString LevelName(int level)
{
    switch (level) {
    case 0:
        return QStringLiteral("物业管家");
    case 1:
        return QStringLiteral("管理员");
    case 2:
        return QStringLiteral("维护员");
    default:
        return QString();
    }
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
