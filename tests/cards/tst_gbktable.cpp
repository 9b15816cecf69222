// The GBK table every build reads and writes with is Linux's GBK (glibc's iconv), byte for byte:
// every single byte, every pair, and the code of every character of the basic plane; and the
// decoding of whole texts stops, goes on or reads a user-defined pair where it should. With
// ICCARD_WRITE_GBK_TABLE=FILE it writes the table's source file anew from iconv instead.

#include "cards/Gbk.h"
#include "cards/GbkTable.h"

#include <QFile>
#include <QTest>
#include <array>
#include <iconv.h>
#include <memory>
#include <vector>

namespace {

// What iconv makes of the bytes in one conversion; empty when it fails or leaves any over.
QByteArray convert(iconv_t cd, const char* bytes, size_t size)
{
    char out[16];
    char* in = const_cast<char*>(bytes);
    size_t inLeft = size;
    char* outPtr = out;
    size_t outLeft = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) == size_t(-1) || inLeft != 0)
        return {};
    return QByteArray(out, qsizetype(sizeof out - outLeft));
}

// The one UTF-16 unit the GBK bytes read as; 0 when they read as none or as more.
char16_t readGbk(iconv_t cd, const char* bytes, size_t size)
{
    const QByteArray units = convert(cd, bytes, size);
    if (units.size() != 2)
        return 0;
    return char16_t(uchar(units[0]) | uchar(units[1]) << 8);
}

struct IconvTable {
    std::array<char16_t, 0x80> singles{};
    std::vector<char16_t> pairs = std::vector<char16_t>(size_t(GbkTable::Leads * GbkTable::Trails));
    std::vector<QByteArray> codes = std::vector<QByteArray>(0x10000); // iconv's GBK of each character
};

std::unique_ptr<IconvTable> fromIconv()
{
    auto t = std::make_unique<IconvTable>();
    iconv_t reader = iconv_open("UTF-16LE", "GBK");
    iconv_t writer = iconv_open("GBK", "UTF-16LE");
    if (reader == reinterpret_cast<iconv_t>(-1) || writer == reinterpret_cast<iconv_t>(-1))
        return nullptr;
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
        const char in[1] = {char(byte)};
        t->singles[size_t(byte - 0x80)] = readGbk(reader, in, 1);
    }
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            const char in[2] = {char(lead), char(trail)};
            t->pairs[size_t((lead - 0x81) * GbkTable::Trails + (trail - 0x40))] = readGbk(reader, in, 2);
        }
    }
    for (int c = 0x80; c <= 0xFFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        const char in[2] = {char(c & 0xFF), char(c >> 8)};
        t->codes[size_t(c)] = convert(writer, in, 2);
    }
    iconv_close(reader);
    iconv_close(writer);
    return t;
}

QByteArray hexList(const char16_t* values, int count)
{
    QByteArray out;
    for (int i = 0; i < count; ++i) {
        out += (i % 12 == 0 ? "\n    " : " ") + QByteArray("0x") +
               QByteArray::number(uint(values[i]), 16).rightJustified(4, '0') + ',';
    }
    return out;
}

// The table's source file from iconv: the singles, the pairs, and the characters whose code the
// first pair (or single byte) reading as them does not give.
QByteArray sourceFile(const IconvTable& t)
{
    std::vector<uint16_t> derived(0x10000);
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            const char16_t ch = t.pairs[size_t((lead - 0x81) * GbkTable::Trails + (trail - 0x40))];
            if (ch != 0 && derived[ch] == 0)
                derived[ch] = uint16_t(lead << 8 | trail);
        }
    }
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
        const char16_t ch = t.singles[size_t(byte - 0x80)];
        if (ch != 0 && derived[ch] == 0)
            derived[ch] = uint16_t(byte);
    }
    QByteArray extras;
    int extraCount = 0;
    for (int c = 0x80; c <= 0xFFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        const QByteArray& code = t.codes[size_t(c)];
        uint16_t wanted = 0;
        if (code.size() == 1)
            wanted = uchar(code[0]);
        else if (code.size() == 2)
            wanted = uint16_t(uchar(code[0]) << 8 | uchar(code[1]));
        if (wanted == derived[size_t(c)])
            continue;
        extras += QByteArray("\n    {0x") + QByteArray::number(c, 16).rightJustified(4, '0') + ", 0x" +
                  QByteArray::number(wanted > 0xFF ? wanted >> 8 : wanted, 16).rightJustified(2, '0') +
                  ", 0x" + QByteArray::number(wanted > 0xFF ? wanted & 0xFF : 0, 16).rightJustified(2, '0') +
                  "},";
        ++extraCount;
    }
    if (extraCount == 0)
        extras = "\n    {0, 0, 0},";
    return "// Made by tst_gbktable from glibc's iconv (ICCARD_WRITE_GBK_TABLE=FILE); do not edit.\n"
           "// clang-format off\n"
           "const char16_t Singles[0x80] = {" +
           hexList(t.singles.data(), 0x80) + "\n};\n\nconst char16_t Pairs[Leads * Trails] = {" +
           hexList(t.pairs.data(), GbkTable::Leads * GbkTable::Trails) + "\n};\n\nconst Extra Extras[] = {" +
           extras + "\n};\nconst int ExtraCount = " + QByteArray::number(extraCount) +
           ";\n// clang-format on\n";
}

} // namespace

class TestGbkTable : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sameAsIconv();
    void everyPairAsTheSystemReadsIt();
};

void TestGbkTable::sameAsIconv()
{
    const std::unique_ptr<IconvTable> t = fromIconv();
    QVERIFY2(t, "this system's iconv has no GBK");
    if (const QString target = qEnvironmentVariable("ICCARD_WRITE_GBK_TABLE"); !target.isEmpty()) {
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(sourceFile(*t));
        return;
    }
    for (int byte = 0x80; byte <= 0xFF; ++byte)
        QCOMPARE(uint(GbkTable::Singles[byte - 0x80]), uint(t->singles[size_t(byte - 0x80)]));
    for (int i = 0; i < GbkTable::Leads * GbkTable::Trails; ++i) {
        if (GbkTable::Pairs[i] != t->pairs[size_t(i)])
            QFAIL(qPrintable(QStringLiteral("pair %1%2 reads as %3, iconv reads %4")
                                 .arg(0x81 + i / GbkTable::Trails, 2, 16)
                                 .arg(0x40 + i % GbkTable::Trails, 2, 16)
                                 .arg(uint(GbkTable::Pairs[i]), 4, 16)
                                 .arg(uint(t->pairs[size_t(i)]), 4, 16)));
    }
    for (int c = 0x80; c <= 0xFFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        char out[2];
        const int n = GbkTable::Encode(char16_t(c), out);
        if (QByteArray(out, n) != t->codes[size_t(c)])
            QFAIL(qPrintable(QStringLiteral("U+%1 is written as %2, iconv writes %3")
                                 .arg(c, 4, 16, QLatin1Char('0'))
                                 .arg(QString::fromLatin1(QByteArray(out, n).toHex()))
                                 .arg(QString::fromLatin1(t->codes[size_t(c)].toHex()))));
    }
}

void TestGbkTable::everyPairAsTheSystemReadsIt()
{
    // Every byte from 80 alone and every pair led by one, read as the system's GBK (iconv) reads
    // them: what iconv reads is read the same; where iconv stops, a user-defined pair is read as
    // its character (written back as the same pair), and anything else stops the strict reading
    // there, while the lenient one gives '?' and goes on. Checking alone reads as far as decoding.
    iconv_t cd = iconv_open("UTF-16LE", "GBK");
    QVERIFY(cd != reinterpret_cast<iconv_t>(-1));
    // What iconv reads from the start, and how many bytes that took.
    auto systemReads = [cd](QByteArray in, qsizetype& taken) {
        char16_t out[4] = {};
        char* inPtr = in.data();
        size_t inLeft = size_t(in.size());
        auto* outPtr = reinterpret_cast<char*>(out);
        size_t outLeft = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        taken = in.size() - qsizetype(inLeft);
        return QString::fromUtf16(out, qsizetype((sizeof out - outLeft) / 2));
    };
    int mismatches = 0;
    for (int lead = 0x80; lead <= 0xFF; ++lead) {
        for (int trail = -1; trail <= 0xFF; ++trail) {
            QByteArray bytes(1, char(lead));
            if (trail >= 0)
                bytes += char(trail);
            qsizetype taken = 0;
            const QString expected = systemReads(bytes, taken);
            QString decoded;
            const qsizetype read = DecodeGbk(bytes.constData(), bytes.size(), decoded);
            bool same = decoded.startsWith(expected) && GbkToString(bytes).startsWith(decoded) &&
                        ValidGbkPrefix(bytes.constData(), bytes.size()) == read;
            if (read == taken) {
                same = same && decoded == expected;
                if (read < bytes.size())
                    same = same && GbkToString(bytes) ==
                                       expected + QLatin1Char('?') + GbkToString(bytes.mid(read + 1));
            } else {
                const QString added = decoded.mid(expected.size());
                same = same && read == taken + 2 && read == bytes.size() && added.size() == 1 &&
                       added[0].unicode() >= 0xE000 && added[0].unicode() <= 0xE765 &&
                       StringToGbk(added) == bytes.mid(taken);
            }
            if (!same && ++mismatches <= 5)
                qWarning("%02X %02X: read %d bytes as %s; the system reads %d as %s", lead, trail & 0xFF,
                         int(read), qPrintable(decoded), int(taken), qPrintable(expected));
        }
    }
    iconv_close(cd);
    QCOMPARE(mismatches, 0);
}

QTEST_GUILESS_MAIN(TestGbkTable)
#include "tst_gbktable.moc"
