#include "Session.h"

#include "link/ProgramState.h"

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
