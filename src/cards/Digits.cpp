#include "Digits.h"

void PackDigits(uint8_t* dest, const char* src, int n)
{
    for (int i = 0; i < n; ++i) {
        const auto hi = static_cast<uint8_t>(src[2 * i]) & 0x0F;
        const auto lo = static_cast<uint8_t>(src[2 * i + 1]) & 0x0F;
        dest[i] = static_cast<uint8_t>((hi << 4) | lo);
    }
}

void UnpackDigits(char* dest, const uint8_t* src, int n)
{
    for (int i = 0; i < n; ++i) {
        dest[2 * i] = static_cast<char>((src[i] >> 4) + 0x30);
        dest[2 * i + 1] = static_cast<char>((src[i] & 0x0F) + 0x30);
    }
}

QString PadNumber(int32_t value, int width)
{
    QString text = QString::number(value);
    if (text.size() < width)
        text.prepend(QString(width - text.size(), QLatin1Char('0')));
    return text;
}

std::optional<int32_t> CardSerialFromText(const QString& text)
{
    const QString t = text.trimmed();
    qsizetype i = 0;
    while (i < t.size() && t[i] == QLatin1Char('0'))
        ++i;
    const bool negative = i < t.size() && t[i] == QLatin1Char('-');
    if (negative)
        ++i;
    if (i == t.size())
        return negative ? std::nullopt : std::optional<int32_t>(0);
    int64_t value = 0;
    for (; i < t.size(); ++i) {
        const char16_t c = t[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c - u'0');
        if (value > (int64_t(1) << 31))
            return std::nullopt;
    }
    value = negative ? -value : value;
    if (value > INT32_MAX || value < INT32_MIN)
        return std::nullopt;
    return static_cast<int32_t>(value);
}

std::optional<int32_t> CardSerialFromTyped(const QString& text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return std::nullopt;
    if (const std::optional<int32_t> stored = CardSerialFromText(t))
        return stored;
    // Above 2^31 - 1 only the unsigned form is left: the top bit set, negative when stored.
    uint64_t value = 0;
    for (const QChar c : t) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + uint64_t(c.unicode() - u'0');
        if (value > UINT32_MAX)
            return std::nullopt;
    }
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}

QString UnsignedSerialText(int32_t serial)
{
    return QString::number(static_cast<uint32_t>(serial));
}

QString UnsignedSerialText(const QString& stored)
{
    if (stored.trimmed().isEmpty())
        return QString();
    const std::optional<int32_t> serial = CardSerialFromText(stored);
    return serial ? UnsignedSerialText(*serial) : QString();
}

int32_t Int32FromBytes(const uint8_t* bytes)
{
    const uint32_t value = (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) |
                           (uint32_t(bytes[2]) << 8) | uint32_t(bytes[3]);
    return static_cast<int32_t>(value);
}

QString HexByte(int value)
{
    return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
}

QString TrimControls(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= 0x20)
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= 0x20)
        --end;
    return text.mid(begin, end - begin);
}

QString TextBeforeDash(const QString& text)
{
    const qsizetype dash = text.indexOf(QLatin1Char('-'));
    if (dash < 0)
        return QString();
    return TrimControls(text.left(dash));
}

void SetTerminal(uint8_t* bitmap, int terminal)
{
    bitmap[terminal / 8] = static_cast<uint8_t>(bitmap[terminal / 8] | (0x80 >> (terminal % 8)));
}

void ClearTerminal(uint8_t* bitmap, int terminal)
{
    bitmap[terminal / 8] = static_cast<uint8_t>(bitmap[terminal / 8] & ~(0x80 >> (terminal % 8)));
}

bool TestTerminal(const uint8_t* bitmap, int terminal)
{
    return (bitmap[terminal / 8] & (0x80 >> (terminal % 8))) != 0;
}

std::optional<int> TerminalFromText(QStringView text)
{
    const QStringView digits = text.trimmed();
    // Three digits at most, after any zeros in front: longer texts are out of range anyway.
    qsizetype first = 0;
    while (first < digits.size() - 1 && digits.at(first) == QLatin1Char('0'))
        ++first;
    if (digits.isEmpty() || digits.size() - first > 3)
        return std::nullopt;
    int value = 0;
    for (qsizetype i = first; i < digits.size(); ++i) {
        const QChar c = digits.at(i);
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + (c.unicode() - '0');
    }
    if (value >= TerminalCount)
        return std::nullopt;
    return value;
}
