#include "HidReportDescriptor.h"

#include <algorithm>
#include <map>
#include <vector>

HidReportLengths ParseReportDescriptor(const QByteArray& descriptor)
{
    struct Globals {
        uint32_t reportSize = 0;
        uint32_t reportCount = 0;
        int reportId = 0;
    };
    Globals globals;
    std::vector<Globals> stack;
    std::map<int, uint64_t> inputBits;
    std::map<int, uint64_t> outputBits;
    HidReportLengths out;

    const auto* bytes = reinterpret_cast<const uint8_t*>(descriptor.constData());
    const qsizetype size = descriptor.size();
    qsizetype i = 0;
    while (i < size) {
        const uint8_t prefix = bytes[i];
        if (prefix == 0xFE) { // long item: size, tag, data
            if (i + 1 >= size)
                break;
            i += 3 + bytes[i + 1];
            continue;
        }
        const int dataSize = (prefix & 3) == 3 ? 4 : (prefix & 3);
        if (i + 1 + dataSize > size)
            break;
        uint32_t value = 0;
        for (int b = 0; b < dataSize; ++b)
            value |= uint32_t(bytes[i + 1 + b]) << (8 * b);
        const int type = (prefix >> 2) & 3;
        const int tag = prefix >> 4;
        if (type == 1) { // global
            switch (tag) {
            case 7:
                globals.reportSize = value;
                break;
            case 8:
                globals.reportId = static_cast<int>(value);
                out.numbered = true;
                break;
            case 9:
                globals.reportCount = value;
                break;
            case 10:
                stack.push_back(globals);
                break;
            case 11:
                if (!stack.empty()) {
                    globals = stack.back();
                    stack.pop_back();
                }
                break;
            default:
                break;
            }
        } else if (type == 0 && (tag == 8 || tag == 9)) { // main: input, output
            auto& bits = tag == 8 ? inputBits : outputBits;
            bits[globals.reportId] += uint64_t(globals.reportSize) * globals.reportCount;
        }
        i += 1 + dataSize;
    }
    const auto longest = [](const std::map<int, uint64_t>& bits) {
        uint64_t most = 0;
        for (const auto& [id, n] : bits)
            most = std::max(most, n);
        return most == 0 ? 0 : static_cast<int>((most + 7) / 8) + 1;
    };
    out.input = longest(inputBits);
    out.output = longest(outputBits);
    return out;
}
