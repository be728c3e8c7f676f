// Case-insensitive compare and substring search; see strcase.h.
#include "support/strcase.h"

#include "platform/platform.h"
#include "support/bytes.h"

namespace zp {

namespace {

inline unsigned char upper(char byte) {
  return platform::codePageUpperByte(static_cast<unsigned char>(byte));
}

// Whether pattern (length bytes) matches text at its start: double-byte
// characters exactly, other bytes after upper-casing when ignoreCase is set.
bool matchesAt(const char* text, const char* pattern, uint32_t length, bool ignoreCase) {
  for (uint32_t i = 0; i < length; ++i) {
    if (text[i] == pattern[i]) continue;
    if (!ignoreCase || upper(text[i]) != upper(pattern[i])) return false;
  }
  return true;
}

const char* find(const char* text, const char* pattern, bool ignoreCase) {
  const uint32_t textLength = byteLength(text);
  const uint32_t patternLength = byteLength(pattern);
  if (patternLength == 0 || patternLength > textLength) return nullptr;
  const uint32_t last = textLength - patternLength;
  for (uint32_t at = 0; at <= last; at = nextCharIndex(text, at, kCharModeCodePage)) {
    if (matchesAt(text + at, pattern, patternLength, ignoreCase)) return text + at;
    if (text[at] == '\0') break;
  }
  return nullptr;
}

}  // namespace

int compareCountedNoCase(const char* first, uint32_t firstLength, const char* second,
                         uint32_t secondLength) {
  const uint32_t shorter = firstLength < secondLength ? firstLength : secondLength;
  uint32_t i = 0;
  while (i < shorter) {
    if (platform::codePageIsLeadByte(static_cast<unsigned char>(first[i])) && i + 1 < shorter) {
      for (int k = 0; k < 2; ++k, ++i) {
        const unsigned char a = static_cast<unsigned char>(first[i]);
        const unsigned char b = static_cast<unsigned char>(second[i]);
        if (a != b) return a < b ? -1 : 1;
      }
      continue;
    }
    const unsigned char a = upper(first[i]);
    const unsigned char b = upper(second[i]);
    if (a != b) return a < b ? -1 : 1;
    ++i;
  }
  if (firstLength == secondLength) return 0;
  return firstLength < secondLength ? -1 : 1;
}

const char* findSubstring(const char* text, const char* pattern) {
  return find(text, pattern, false);
}

const char* findSubstringNoCase(const char* text, const char* pattern) {
  return find(text, pattern, true);
}

uint32_t formatDecimal64(char* buffer, uint64_t value) {
  char digits[32];
  uint32_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (uint32_t i = 0; i < count; ++i) buffer[i] = digits[count - 1 - i];
  buffer[count] = '\0';
  return count;
}

}  // namespace zp
