#include "GbkTable.h"

#include <array>
#include <memory>

namespace GbkTable {

#include "GbkTable.inc"

int Encode(char16_t c, char* out)
{
    // The code of every character, made once: 0 none, below 100 one byte, otherwise lead and trail.
    static const std::unique_ptr<std::array<uint16_t, 0x10000>> codes = [] {
        auto table = std::make_unique<std::array<uint16_t, 0x10000>>();
        for (int lead = 0x81; lead <= 0xFE; ++lead) {
            for (int trail = 0x40; trail <= 0xFE; ++trail) {
                const char16_t ch = Pairs[(lead - 0x81) * Trails + (trail - 0x40)];
                if (ch != 0 && (*table)[ch] == 0)
                    (*table)[ch] = uint16_t(lead << 8 | trail);
            }
        }
        for (int byte = 0x80; byte <= 0xFF; ++byte) {
            const char16_t ch = Singles[byte - 0x80];
            if (ch != 0 && (*table)[ch] == 0)
                (*table)[ch] = uint16_t(byte);
        }
        for (int i = 0; i < ExtraCount; ++i)
            (*table)[Extras[i].c] =
                uint16_t(Extras[i].second ? Extras[i].first << 8 | Extras[i].second : Extras[i].first);
        return table;
    }();
    const uint16_t code = (*codes)[c];
    if (code == 0)
        return 0;
    if (code < 0x100) {
        out[0] = char(code);
        return 1;
    }
    out[0] = char(code >> 8);
    out[1] = char(code & 0xFF);
    return 2;
}

} // namespace GbkTable
