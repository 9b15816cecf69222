#include "Session.h"

uint8_t OperatorLevel = 0;

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

#include "link/HidDevice.h"

bool CardIssuerAttached()
{
    return CardIssuerDevice != nullptr;
}
