// The reading side of an owner data file on any bytes: the decoding (GBK with its user-defined
// areas, UTF-8 with or without the byte-order mark, neither), the cutting into lines (LF, CR LF, CR)
// and fields, and the conversion of each line into an owner record. Every line is read, also after one that
// the import would stop at. Checks that the lines read agree with the count the progress is given and with
// the line where unreadable bytes begin.

#include "store/OwnerExchange.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

void Check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_import: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A copy of exactly the input's length (as a mapped file would be), so that a read past the
    // end is seen.
    std::vector<char> bytes(data, data + size);
    OwnerFileReader reader(bytes.empty() ? nullptr : bytes.data(), qsizetype(bytes.size()));
    OwnerLine line;
    TuserInfoRec rec;
    int expected = 2;
    while (reader.Next(line, rec)) {
        Check(line.number == expected++, "lines not numbered one after another");
        Check(line.kind == OwnerLineKind::Unreadable ? !line.reason.isEmpty() : line.reason.isEmpty(),
              "a reason without an unreadable line, or none with it");
        Check(line.reason.size() < 200, "a reason that quotes a whole field");
        if (line.kind == OwnerLineKind::Owner)
            Check(rec.TerminalStream == nullptr && rec.PhotoStream == nullptr, "record with a buffer");
    }
    Check(reader.LineNo() - 1 <= reader.Total(), "more lines read than the file holds");
    // UTF-8 decoding drops a byte-order mark at the start of the text after the header: when that
    // mark is all there is, the one line the count sees is not read. The header ends at the first
    // LF, CR LF or CR.
    size_t body = 0;
    while (body < size && bytes[body] != '\n' && bytes[body] != '\r')
        ++body;
    const bool ended = body < size;
    if (ended)
        body += bytes[body] == '\r' && body + 1 < size && bytes[body + 1] == '\n' ? 2 : 1;
    const bool onlyMark =
        ended && std::string_view(bytes.data() + body, size - body) == std::string_view("\xEF\xBB\xBF");
    if (reader.BadLine() == 0)
        Check(reader.LineNo() - 1 == reader.Total() - (onlyMark ? 1 : 0),
              "a readable file not read to its end");
    else
        Check(reader.LineNo() == reader.BadLine() - 1, "reading did not stop before the unreadable line");
    return 0;
}
