#include "ResultTexts.h"

#include "cards/Digits.h"
#include "store/Dialogs.h"

#include <QStringList>

namespace {

struct ResultEntry {
    int code;
    const char* text;
};

// The result codes and their texts.
constexpr ResultEntry ResultTable[] = {
    {ResultOk, "操作完成"},
    {ResultKeyError, "密钥错误"},
    {ResultReadError, "读卡错误"},
    {ResultWriteError, "写卡错误"},
    {ResultSelectError, "选择卡错误"},
    {ResultKindError, "卡类型错误"},
    {ResultForeignCommunity, "非本小区IC卡"},
};

struct ResultVariant {
    ResultUse use;
    int code;
    const char* text; // empty: that use shows nothing for the code
};

// Where a use reads another text than the table's.
constexpr ResultVariant ResultVariants[] = {
    {ResultUse::DeviceCardWritten, ResultOk, "管理卡操作完成\r\r请到门禁机刷卡授权"},
    {ResultUse::DeviceCardRead, ResultKindError, "卡类型错误: 这个可能是用户卡"},
    {ResultUse::OwnerCardLine, ResultKindError, "卡类型错误, 此卡可能是设备卡"},
    {ResultUse::CardRun, ResultKeyError, ""},
    {ResultUse::CardRun, ResultSelectError, ""},
    {ResultUse::CardRun, ResultForeignCommunity, "无效的小区编号"},
};

} // namespace

QString ResultTextFor(ResultUse use, int code)
{
    if (use != ResultUse::OwnerCardLine)
        code &= ResultMask;
    for (const ResultVariant& variant : ResultVariants)
        if (variant.use == use && variant.code == code)
            return QString::fromUtf8(variant.text);
    for (const ResultEntry& entry : ResultTable)
        if (entry.code == code)
            return QString::fromUtf8(entry.text);
    return QString();
}

QString LogResponseLine(const ReceivedFrame& answer)
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
    const ResultUse use = callerType == CallerWriteDeviceCard  ? ResultUse::DeviceCardWritten
                          : callerType == CallerReadDeviceCard ? ResultUse::DeviceCardRead
                                                               : ResultUse::Notice;
    QString text = ResultTextFor(use, code);
    if (text.isEmpty())
        return std::nullopt;
    return text;
}

void ShowResult(int code, int callerType)
{
    if (const auto text = ShowResultText(code, callerType))
        ShowMessage(*text);
}

QString ResultText(int code)
{
    return ResultTextFor(ResultUse::OwnerCardLine, code);
}

QString CardFailureText(int code)
{
    const QString text = ResultText(code);
    return text.isEmpty() ? QStringLiteral("卡操作失败（结果代码%1）").arg(code) : text;
}
