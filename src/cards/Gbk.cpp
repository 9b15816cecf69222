#include "Gbk.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iconv.h>

namespace {

QByteArray convert(const char* to, const char* from, const QByteArray& input, const QByteArray& replacement,
                   size_t skip)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return input;
    QByteArray out;
    out.reserve(input.size() * 2 + 8);
    QByteArray in = input;
    char* inPtr = in.data();
    size_t inLeft = static_cast<size_t>(in.size());
    char buffer[256];
    while (inLeft > 0) {
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        const size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<qsizetype>(sizeof buffer - outLeft));
        if (rc == static_cast<size_t>(-1)) {
            if (errno == E2BIG)
                continue;
            // An invalid or incomplete sequence: put a replacement and skip one input unit.
            out.append(replacement);
            inPtr += std::min(skip, inLeft);
            inLeft -= std::min(skip, inLeft);
        }
    }
    iconv_close(cd);
    return out;
}

} // namespace

QString GbkToString(const char* bytes, int maxBytes)
{
    int n = 0;
    while (n < maxBytes && bytes[n] != 0)
        ++n;
    return GbkToString(QByteArray(bytes, n));
}

QString GbkToString(const QByteArray& bytes)
{
    bool ascii = true;
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
    if (ascii)
        return QString::fromLatin1(bytes);
    const QByteArray utf16 = convert("UTF-16LE", "GBK", bytes, QByteArray("?\0", 2), 1);
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(utf16.constData()), utf16.size() / 2);
}

QByteArray StringToGbk(const QString& text)
{
    bool ascii = true;
    for (QChar c : text)
        if (c.unicode() >= 0x80) {
            ascii = false;
            break;
        }
    if (ascii)
        return text.toLatin1();
    // Characters beyond the basic plane have no GBK code: one '?' each, not one per surrogate.
    QString bmp;
    bmp.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            bmp += QLatin1Char('?');
            ++i;
        } else {
            bmp += text.at(i);
        }
    }
    QByteArray utf16(reinterpret_cast<const char*>(bmp.utf16()), bmp.size() * 2);
    return convert("GBK", "UTF-16LE", utf16, QByteArray("?"), 2);
}

void CopyGbkField(char* field, int size, const QByteArray& gbk)
{
    std::memset(field, 0, static_cast<size_t>(size));
    std::memcpy(field, gbk.constData(), static_cast<size_t>(std::min<qsizetype>(size, gbk.size())));
}
