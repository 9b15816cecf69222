#include "Gbk.h"

#include "GbkTable.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

// The user-defined areas of the Chinese Windows code page (936), where offices keep the rare
// characters of names: AAA1-AFFE, F8A1-FEFE and A140-A7A0 (trail bytes 40-7E and 80-A0), mapped
// row by row onto U+E000..U+E765. Linux's GBK, whose table the program keeps (GbkTable.h), knows
// none of them, so they are read and written here, where the table has nothing.
constexpr char16_t UserDefinedFirst = 0xE000;
constexpr char16_t UserDefinedLast = 0xE765;
constexpr int FirstAreaSize = 6 * 94;  // AAA1-AFFE
constexpr int SecondAreaSize = 7 * 94; // F8A1-FEFE

// The character of a user-defined byte pair; 0 when the pair is in none of the areas.
char16_t userDefinedChar(unsigned char lead, unsigned char trail)
{
    if (lead >= 0xAA && lead <= 0xAF && trail >= 0xA1 && trail <= 0xFE)
        return char16_t(UserDefinedFirst + (lead - 0xAA) * 94 + (trail - 0xA1));
    if (lead >= 0xF8 && lead <= 0xFE && trail >= 0xA1 && trail <= 0xFE)
        return char16_t(UserDefinedFirst + FirstAreaSize + (lead - 0xF8) * 94 + (trail - 0xA1));
    if (lead >= 0xA1 && lead <= 0xA7 && trail >= 0x40 && trail <= 0xA0 && trail != 0x7F)
        return char16_t(UserDefinedFirst + FirstAreaSize + SecondAreaSize + (lead - 0xA1) * 96 +
                        (trail < 0x7F ? trail - 0x40 : trail - 0x41));
    return 0;
}

// The byte pair of a user-defined character into out; false for any other character.
bool userDefinedPair(char32_t c, char* out)
{
    if (c < UserDefinedFirst || c > UserDefinedLast)
        return false;
    int i = int(c - UserDefinedFirst);
    int lead = 0;
    int trail = 0;
    if (i < FirstAreaSize) {
        lead = 0xAA + i / 94;
        trail = 0xA1 + i % 94;
    } else if ((i -= FirstAreaSize) < SecondAreaSize) {
        lead = 0xF8 + i / 94;
        trail = 0xA1 + i % 94;
    } else {
        i -= SecondAreaSize;
        lead = 0xA1 + i / 96;
        trail = i % 96 < 63 ? 0x40 + i % 96 : 0x41 + i % 96;
    }
    out[0] = char(lead);
    out[1] = char(trail);
    return true;
}

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

// The character a three-byte UTF-8 sequence holds; 0 when the bytes are not one.
char32_t utf8Char3(const unsigned char* p, size_t left)
{
    if (left < 3 || utf8Length(p[0]) != 3 || (p[1] & 0xC0) != 0x80 || (p[2] & 0xC0) != 0x80)
        return 0;
    return (char32_t(p[0] & 0x0F) << 12) | (char32_t(p[1] & 0x3F) << 6) | char32_t(p[2] & 0x3F);
}

bool onlyAscii(const char* bytes, qsizetype size)
{
    for (qsizetype i = 0; i < size; ++i) {
        if (static_cast<unsigned char>(bytes[i]) >= 0x80)
            return false;
    }
    return true;
}

// The characters of the GBK bytes from 80 read alone and of every pair, from the program's table,
// so that a whole owner data file is read by looking its pairs up.
class PairTable {
public:
    // The character of a byte from 80 read alone; 0 when it is none (a lead byte).
    char16_t Single(unsigned char byte) const { return GbkTable::Singles[byte - 0x80]; }
    // The character of a pair; 0 when GBK has none.
    char16_t At(unsigned char lead, unsigned char trail) const
    {
        if (lead < 0x81 || lead > 0xFE || trail < 0x40 || trail > 0xFE)
            return 0;
        return GbkTable::Pairs[(lead - 0x81) * GbkTable::Trails + (trail - 0x40)];
    }
};

const PairTable& pairTable()
{
    static const PairTable table;
    return table;
}

// GBK into text: bytes below 80 as they stand, single bytes and pairs from the table or the
// user-defined areas. Strict: stops at the first sequence that is none of these and returns how
// many bytes were decoded. Otherwise such a byte becomes '?' and decoding goes on.
qsizetype decodeGbk(const char* bytes, qsizetype size, QString& text, bool strict)
{
    if (size == 0) {
        text.clear();
        return 0;
    }
    const auto* in = reinterpret_cast<const unsigned char*>(bytes);
    // One GBK byte or pair gives one UTF-16 unit: size units are always enough. The text's own
    // buffer is used when it is large enough (a reader decoding line after line into one text).
    text.resize(size);
    char16_t* const start = reinterpret_cast<char16_t*>(text.data());
    char16_t* o = start;
    const PairTable* table = nullptr;
    qsizetype i = 0;
    while (i < size) {
        if (in[i] < 0x80) {
            *o++ = in[i++];
            continue;
        }
        if (!table)
            table = &pairTable();
        char16_t c = table->Single(in[i]);
        if (c != 0) {
            *o++ = c;
            ++i;
            continue;
        }
        if (i + 1 < size) {
            c = table->At(in[i], in[i + 1]);
            if (c == 0)
                c = userDefinedChar(in[i], in[i + 1]);
        }
        if (c != 0) {
            *o++ = c;
            i += 2;
            continue;
        }
        if (strict)
            break;
        *o++ = u'?';
        ++i;
    }
    text.resize(qsizetype(o - start));
    return i;
}

// How many bytes from the start the strict decodeGbk reads.
qsizetype validGbkPrefix(const char* bytes, qsizetype size)
{
    const auto* in = reinterpret_cast<const unsigned char*>(bytes);
    const PairTable* table = nullptr;
    qsizetype i = 0;
    while (i < size) {
        if (in[i] < 0x80) {
            ++i;
            continue;
        }
        if (!table)
            table = &pairTable();
        if (table->Single(in[i]) != 0) {
            ++i;
            continue;
        }
        if (i + 1 < size && (table->At(in[i], in[i + 1]) != 0 || userDefinedChar(in[i], in[i + 1]) != 0)) {
            i += 2;
            continue;
        }
        break;
    }
    return i;
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
    if (onlyAscii(bytes.constData(), bytes.size()))
        return QString::fromLatin1(bytes);
    QString text;
    decodeGbk(bytes.constData(), bytes.size(), text, false);
    return text;
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
    // A UTF-16 unit never takes more than two bytes in GBK.
    QByteArray out(text.size() * 2, Qt::Uninitialized);
    char* o = out.data();
    const char16_t* units = reinterpret_cast<const char16_t*>(text.utf16());
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = units[i];
        if (c < 0x80) {
            *o++ = char(c);
            continue;
        }
        if (const int n = GbkTable::Encode(c, o); n > 0) {
            o += n;
            continue;
        }
        if (userDefinedPair(c, o)) {
            o += 2;
            continue;
        }
        // No GBK code: one '?', also for a character beyond the basic plane (two units).
        *o++ = '?';
        if (QChar::isHighSurrogate(c) && i + 1 < size && QChar::isLowSurrogate(units[i + 1]))
            ++i;
    }
    out.resize(qsizetype(o - out.data()));
    return out;
}

void CopyGbkField(char* field, int size, const QByteArray& gbk)
{
    std::memset(field, 0, static_cast<size_t>(size));
    std::memcpy(field, gbk.constData(), static_cast<size_t>(std::min<qsizetype>(size, gbk.size())));
}

qsizetype DecodeGbk(const char* bytes, qsizetype size, QString& text)
{
    return decodeGbk(bytes, size, text, true);
}

qsizetype ValidGbkPrefix(const char* bytes, qsizetype size)
{
    return validGbkPrefix(bytes, size);
}

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
    if (size == 0 || onlyAscii(utf8, size)) {
        out.append(utf8, size);
        return 0;
    }
    int replaced = 0;
    // A character never takes more bytes in GBK than in UTF-8.
    const qsizetype start = out.size();
    out.resize(start + size);
    char* o = out.data() + start;
    const auto* p = reinterpret_cast<const unsigned char*>(utf8);
    qsizetype i = 0;
    while (i < size) {
        if (p[i] < 0x80) {
            *o++ = char(p[i++]);
            continue;
        }
        // One well-formed sequence (no overlong forms, no surrogates), or the bytes that are not one.
        const int n = utf8Length(p[i]);
        const qsizetype whole = n > 0 && i + n <= size ? ValidUtf8Prefix(utf8 + i, n) : 0;
        if (whole == n && n <= 3) {
            char32_t c = n == 2 ? (char32_t(p[i] & 0x1F) << 6) | char32_t(p[i + 1] & 0x3F)
                                : utf8Char3(p + i, size_t(size - i));
            if (const int written = GbkTable::Encode(char16_t(c), o); written > 0) {
                o += written;
                i += n;
                continue;
            }
            if (userDefinedPair(c, o)) {
                // Three bytes of UTF-8 become a pair.
                o += 2;
                i += n;
                continue;
            }
        }
        // A character GBK has no code for (or a byte that is not UTF-8): one '?' in its place.
        *o++ = '?';
        ++replaced;
        i += std::min<qsizetype>(std::max(1, n), size - i);
    }
    out.resize(qsizetype(o - out.data()));
    return replaced;
}
