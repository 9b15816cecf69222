#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <optional>

// Packed digits and number texts shared by every card record and several windows.

// Writes n bytes made from the first 2*n characters: the low four bits of each character,
// the first one in the high nibble.
void PackDigits(uint8_t* dest, const char* src, int n);
// Writes 2*n characters made from n bytes: each nibble plus '0' (10..15 give ':' to '?').
// No terminating NUL is written.
void UnpackDigits(char* dest, const uint8_t* src, int n);
// Decimal text of the value with '0' put in front until it is at least width long,
// also in front of a minus sign.
QString PadNumber(int32_t value, int width);
// The card serial in a text that PadNumber wrote: zeros in front, then the decimal number with its
// minus sign ("0001234567", "000000-256", "-2147483648"); blanks around it are ignored and the
// empty text is 0. Nothing else is a serial.
std::optional<int32_t> CardSerialFromText(const QString& text);
// The card serial in a text an operator typed: either a form CardSerialFromText reads (the text
// stored for the card, "-380917942"), or the serial as an unsigned number, the way the card issuer
// and the card show it ("3914049354", 0 to 4294967295, zeros in front allowed). Blanks around it
// are ignored; a blank text is no serial here.
std::optional<int32_t> CardSerialFromTyped(const QString& text);
// The card serial as an unsigned decimal number, without zeros in front ("3914049354" for the
// serial stored as "-380917942").
QString UnsignedSerialText(int32_t serial);
// The same for a card serial text as stored; empty for a blank text or one that is no card serial.
QString UnsignedSerialText(const QString& stored);
// Most significant byte first, taken as signed.
int32_t Int32FromBytes(const uint8_t* bytes);
// Upper-case hexadecimal, at least two digits.
QString HexByte(int value);
// The characters before the first '-', trimmed; empty when there is no '-'.
QString TextBeforeDash(const QString& text);
// Removes spaces and control characters from both ends.
QString TrimControls(const QString& text);

// Terminal bitmap: 32 bytes, terminal n is bit (7 - n mod 8) of byte n div 8.
constexpr int TerminalBitmapSize = 32;
constexpr int TerminalCount = 256;
void SetTerminal(uint8_t* bitmap, int terminal);
void ClearTerminal(uint8_t* bitmap, int terminal);
bool TestTerminal(const uint8_t* bitmap, int terminal);
// The 32 bytes of a terminal bitmap as one value.
using TerminalBitmap = std::array<uint8_t, TerminalBitmapSize>;
// The terminal a text names: a whole decimal number from 0 to 255, blanks around it ignored.
// Anything else (empty, a sign, a fraction, a number out of range) names none, so no text can
// reach a bit outside the bitmap.
std::optional<int> TerminalFromText(QStringView text);
