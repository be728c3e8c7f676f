// Byte-string routines the module stands on: length, copying, counted compare,
// filling, character stepping over double-byte (ANSI code page) and UTF-8
// characters, and unsigned decimal formatting in 8-bit and UTF-16 form.
// None allocates or reports errors; bounds are the caller's to respect.
#ifndef ZP_SUPPORT_BYTES_H
#define ZP_SUPPORT_BYTES_H

#include <cstddef>
#include <cstdint>

namespace zp {

// Character stepping modes.
enum : int {
  kCharModeCodePage = 1,  // double-byte aware, by the ANSI code page
  kCharModeUtf8 = 3,      // by the first byte of a UTF-8 sequence
};

// Bytes before the terminator. Reads aligned words once the pointer is
// aligned, never past the aligned word that holds the terminator.
uint32_t byteLength(const char* text);
// Copies source with its terminator over destination's terminator. No bound.
void appendString(char* destination, const char* source);
// Copies source with its terminator; returns the terminator written. No bound.
char* copyString(char* destination, const char* source);
// Copies exactly n bytes and terminates at destination[n].
void copyCounted(char* destination, const char* source, uint32_t n);
// REQUIRES: size >= 1. Copies at most size - 1 bytes, stopping after a copied
// terminator; destination[size - 1] is always 0.
void copyBounded(char* destination, uint32_t size, const char* source);
// Copies n bytes starting with the last, so a move to a higher address within
// one buffer is safe.
void copyBackward(char* destination, const char* source, uint32_t n);
// Compares n bytes as unsigned values: -1, 0 or +1 by the first difference.
int16_t compareCounted(const char* first, const char* second, uint32_t n);
// Sets n bytes to value; nothing when n is 0.
void fillBytes(void* destination, unsigned char value, uint32_t n);

// Nonzero when the byte at text is a lead byte of the ANSI code page.
int isLeadByte(const char* text);
// Size (1 to 4) of the character that starts at text: kCharModeUtf8 looks at
// the first byte only; any other mode asks the ANSI code page (1 or 2): 2 for
// a lead byte and a byte that can trail it, so a lead byte followed by a '+'
// or the terminator is one character. REQUIRES (code page): the byte after a
// lead byte is readable.
int charSize(const char* text, int mode);
const char* nextChar(const char* text, int mode);
uint32_t nextCharIndex(const char* text, uint32_t index, int mode);

// Decimal digits of value, most significant first, no terminator. Returns the
// digit count (1 to 10), or 0 with nothing written when it exceeds capacity.
uint32_t formatDecimal(char* buffer, uint32_t capacity, uint32_t value);
uint32_t formatDecimalWide(uint16_t* buffer, uint32_t capacity, uint32_t value);
// formatDecimalWide with capacity 32, then a terminator. The buffer must hold
// the digits and the terminator (at most 11 units).
uint32_t formatDecimalWideZ(uint16_t* buffer, uint32_t value);

}  // namespace zp

#endif  // ZP_SUPPORT_BYTES_H
