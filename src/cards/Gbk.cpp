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

qsizetype DecodeGbk(const char* bytes, qsizetype size, QString& text)
{
    text.clear();
    if (size == 0)
        return 0;
    iconv_t cd = iconv_open("UTF-16LE", "GBK");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return 0;
    // One GBK byte or pair gives one UTF-16 unit: size units are always enough.
    QString out(size, Qt::Uninitialized);
    char* inPtr = const_cast<char*>(bytes);
    size_t inLeft = static_cast<size_t>(size);
    char* outPtr = reinterpret_cast<char*>(out.data());
    size_t outLeft = static_cast<size_t>(size) * 2;
    iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    out.resize(static_cast<qsizetype>((static_cast<size_t>(size) * 2 - outLeft) / 2));
    text = std::move(out);
    return size - static_cast<qsizetype>(inLeft);
}

namespace {

// The length of the UTF-8 sequence a lead byte starts, 0 for a byte that starts none.
int utf8Length(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

} // namespace

qsizetype ValidUtf8Prefix(const char* bytes, qsizetype size)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    qsizetype i = 0;
    while (i < size) {
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        const int n = utf8Length(p[i]);
        if (n == 0 || i + n > size)
            return i;
        for (int k = 1; k < n; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return i;
        }
        // No overlong forms, no surrogates, nothing beyond U+10FFFF.
        const unsigned char second = p[i + 1];
        if ((p[i] == 0xE0 && second < 0xA0) || (p[i] == 0xED && second > 0x9F) ||
            (p[i] == 0xF0 && second < 0x90) || (p[i] == 0xF4 && second > 0x8F))
            return i;
        i += n;
    }
    return size;
}

int AppendUtf8AsGbk(const char* utf8, qsizetype size, QByteArray& out)
{
    bool ascii = true;
    for (qsizetype i = 0; i < size; ++i) {
        if (static_cast<unsigned char>(utf8[i]) >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii || size == 0) {
        out.append(utf8, size);
        return 0;
    }
    iconv_t cd = iconv_open("GBK", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        out.append(utf8, size);
        return 0;
    }
    int replaced = 0;
    // A character never takes more bytes in GBK than in UTF-8.
    const qsizetype start = out.size();
    out.resize(start + size);
    char* inPtr = const_cast<char*>(utf8);
    size_t inLeft = static_cast<size_t>(size);
    char* outPtr = out.data() + start;
    size_t outLeft = static_cast<size_t>(size);
    while (inLeft > 0) {
        if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1))
            break;
        // A character GBK has no code for (or a byte that is not UTF-8): one '?' in its place.
        *outPtr++ = '?';
        --outLeft;
        ++replaced;
        const size_t skip = std::max<size_t>(1, size_t(utf8Length(static_cast<unsigned char>(*inPtr))));
        inPtr += std::min(skip, inLeft);
        inLeft -= std::min(skip, inLeft);
    }
    iconv_close(cd);
    out.resize(start + (size - static_cast<qsizetype>(outLeft)));
    return replaced;
}
