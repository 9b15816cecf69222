#pragma once

#include <cstdint>

// GBK as the program reads and writes it, the same on every system: the characters of the bytes
// from 80 read alone and of every byte pair (lead bytes 81-FE, trail bytes 40-FE), and the
// characters whose GBK code is not the one reading gives back. Taken once from Linux's GBK (glibc's
// iconv), whose reading of owner data files offices already rely on, and kept in GbkTable.inc;
// tst_gbktable checks the two agree and writes the file anew when asked.

namespace GbkTable {

inline constexpr int Leads = 0xFE - 0x81 + 1;
inline constexpr int Trails = 0xFE - 0x40 + 1;

// The character of each byte from 80 read alone; 0 where it is none (a lead byte).
extern const char16_t Singles[0x80];
// The character of each pair, row by row from 8140; 0 where GBK has none.
extern const char16_t Pairs[Leads * Trails];

// A character written otherwise than the reading of the pairs gives back.
struct Extra {
    char16_t c;
    unsigned char first;  // 0: GBK has no code for it
    unsigned char second; // 0: one byte
};
extern const Extra Extras[];
extern const int ExtraCount;

// The GBK code of a character from 80 into out: 2 for a pair, 1 for one byte, 0 when GBK has none.
int Encode(char16_t c, char* out);

} // namespace GbkTable
