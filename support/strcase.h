// Case-insensitive compare and substring search over byte strings in the
// ANSI code page (double-byte characters compared exactly, never split), and
// 64-bit decimal formatting. Used by the open-string rewriting.
#ifndef ZP_SUPPORT_STRCASE_H
#define ZP_SUPPORT_STRCASE_H

#include <cstddef>
#include <cstdint>

namespace zp {

// Compares first (firstLength bytes) with second (secondLength bytes),
// ignoring letter case in the ANSI code page. Negative, 0 or positive; equal
// only when the lengths are equal too (the shorter string is the smaller).
int compareCountedNoCase(const char* first, uint32_t firstLength, const char* second,
                         uint32_t secondLength);
// First position in text at which pattern occurs, or null. An empty pattern,
// or one longer than text, finds nothing; a match never starts on the trail
// byte of a double-byte character.
const char* findSubstring(const char* text, const char* pattern);
// The same, ignoring letter case in the ANSI code page. Allocates nothing.
const char* findSubstringNoCase(const char* text, const char* pattern);
// Decimal digits of value and a terminator into buffer (32 bytes); returns
// the digit count.
uint32_t formatDecimal64(char* buffer, uint64_t value);

}  // namespace zp

#endif  // ZP_SUPPORT_STRCASE_H
