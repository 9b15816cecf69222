#include "ResultTexts.h"

#include "cards/Digits.h"
#include "store/Dialogs.h"

#include <QStringList>

QString LogResponseLine(const TResponseFrame& answer)
{
    QStringList parts{HexByte(answer.Head), HexByte(answer.Length), HexByte(answer.Command),
                      HexByte(answer.Result)};
    const int payload = std::min<int>(answer.Length, MaxFrameSize) - 5;
    for (int i = 0; i < payload; ++i)
        parts << HexByte(answer.Data[i]);
    parts << HexByte(answer.Tail);
    return parts.join(QLatin1Char(','));
}

std::optional<QString> ShowResultText(int code, int callerType)
{
    switch (code & ResultMask) {
    case 0:
        if (callerType == CallerWriteDeviceCard)
            return QStringLiteral("管理卡操作完成\r\r请到门禁机刷卡授权");
        return QStringLiteral("操作完成");
    case 1:
        return QStringLiteral("密钥错误");
    case 2:
        return QStringLiteral("读卡错误");
    case 3:
        return QStringLiteral("写卡错误");
    case 4:
        return QStringLiteral("选择卡错误");
    case 5:
        if (callerType == CallerReadDeviceCard)
            return QStringLiteral("卡类型错误: 这个可能是用户卡");
        return QStringLiteral("卡类型错误");
    case 6:
        return QStringLiteral("非本小区IC卡");
    default:
        return std::nullopt;
    }
}

void ShowResult(int code, int callerType)
{
    if (const auto text = ShowResultText(code, callerType))
        ShowMessage(*text);
}

QString ResultText(int code)
{
    switch (code) {
    case 0:
        return QStringLiteral("操作完成");
    case 1:
        return QStringLiteral("密钥错误");
    case 2:
        return QStringLiteral("读卡错误");
    case 3:
        return QStringLiteral("写卡错误");
    case 4:
        return QStringLiteral("选择卡错误");
    case 5:
        return QStringLiteral("卡类型错误, 此卡可能是设备卡");
    case 6:
        return QStringLiteral("非本小区IC卡");
    default:
        return QString();
    }
}
