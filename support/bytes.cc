// Byte-string routines; see bytes.h.
#include "support/bytes.h"

#include <cstring>

#include "platform/platform.h"

namespace zp {

namespace {

// Word loads that may alias any object. byteLength reads whole aligned words,
// which can reach up to three bytes past the terminator but never past the
// aligned word holding it, so never into another page. AddressSanitizer cannot
// tell that from an overflow, so the function is not instrumented.
typedef uint32_t __attribute__((may_alias)) AliasedWord;

inline bool wordHasZeroByte(uint32_t word) {
  return ((word - 0x01010101u) & ~word & 0x80808080u) != 0;
}

}  // namespace

__attribute__((no_sanitize("address"))) uint32_t byteLength(const char* text) {
  const char* p = text;
  while ((reinterpret_cast<uintptr_t>(p) & 3u) != 0) {
    if (*p == '\0') return static_cast<uint32_t>(p - text);
    ++p;
  }
  const AliasedWord* word = reinterpret_cast<const AliasedWord*>(p);
  while (!wordHasZeroByte(*word)) ++word;
  p = reinterpret_cast<const char*>(word);
  while (*p != '\0') ++p;
  return static_cast<uint32_t>(p - text);
}

void appendString(char* destination, const char* source) {
  copyString(destination + byteLength(destination), source);
}

char* copyString(char* destination, const char* source) {
  while ((*destination = *source) != '\0') {
    ++destination;
    ++source;
  }
  return destination;
}

void copyCounted(char* destination, const char* source, uint32_t n) {
  if (n != 0) std::memcpy(destination, source, n);
  destination[n] = '\0';
}

void copyBounded(char* destination, uint32_t size, const char* source) {
  uint32_t i = 0;
  for (; i + 1 < size; ++i) {
    destination[i] = source[i];
    if (source[i] == '\0') return;
  }
  destination[i] = '\0';
}

void copyBackward(char* destination, const char* source, uint32_t n) {
  while (n != 0) {
    --n;
    destination[n] = source[n];
  }
}

int16_t compareCounted(const char* first, const char* second, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) {
    const unsigned char a = static_cast<unsigned char>(first[i]);
    const unsigned char b = static_cast<unsigned char>(second[i]);
    if (a != b) return a > b ? 1 : -1;
  }
  return 0;
}

void fillBytes(void* destination, unsigned char value, uint32_t n) {
  if (n != 0) std::memset(destination, value, n);
}

int isLeadByte(const char* text) {
  return platform::codePageIsLeadByte(static_cast<unsigned char>(*text)) ? 1 : 0;
}

int charSize(const char* text, int mode) {
  const unsigned char byte = static_cast<unsigned char>(*text);
  if (mode == kCharModeUtf8) {
    if (byte < 0xC0) return 1;
    if (byte < 0xE0) return 2;
    if (byte < 0xF0) return 3;
    return 4;
  }
  if (!platform::codePageIsLeadByte(byte)) return 1;
  // A lead byte that the next byte cannot trail is a character by itself, so
  // that stepping never passes over a '+' or the terminator.
  return platform::codePageIsPair(byte, static_cast<unsigned char>(text[1])) ? 2 : 1;
}

const char* nextChar(const char* text, int mode) { return text + charSize(text, mode); }

uint32_t nextCharIndex(const char* text, uint32_t index, int mode) {
  return index + static_cast<uint32_t>(charSize(text + index, mode));
}

namespace {

uint32_t digitCount(uint32_t value) {
  uint32_t digits = 1;
  for (uint32_t limit = 9; digits < 10 && value > limit; limit = limit * 10 + 9) ++digits;
  return digits;
}

template <typename Unit>
uint32_t formatDigits(Unit* buffer, uint32_t capacity, uint32_t value) {
  const uint32_t digits = digitCount(value);
  if (digits > capacity) return 0;
  for (uint32_t i = digits; i > 0; --i) {
    buffer[i - 1] = static_cast<Unit>('0' + value % 10);
    value /= 10;
  }
  return digits;
}

}  // namespace

uint32_t formatDecimal(char* buffer, uint32_t capacity, uint32_t value) {
  return formatDigits(buffer, capacity, value);
}

uint32_t formatDecimalWide(uint16_t* buffer, uint32_t capacity, uint32_t value) {
  return formatDigits(buffer, capacity, value);
}

uint32_t formatDecimalWideZ(uint16_t* buffer, uint32_t value) {
  const uint32_t digits = formatDecimalWide(buffer, 32, value);
  buffer[digits] = 0;
  return digits;
}

}  // namespace zp
