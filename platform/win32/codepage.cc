// The ANSI code page on Windows: kernel32 and user32 calls themselves.
#include <windows.h>

#include <clocale>

#include "platform/platform.h"

namespace zp {
namespace platform {

void codePageSelect() { std::setlocale(LC_CTYPE, ".ACP"); }

bool codePageIsLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != 0; }

bool codePageIsPair(unsigned char lead, unsigned char trail) {
  if (IsDBCSLeadByte(lead) == 0) return false;
  // The code page's own verdict: the pair converts to one character, or the
  // lead byte stands alone.
  const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
  WCHAR wide[2];
  return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, pair, 2, wide, 2) == 1;
}

unsigned char codePageUpperByte(unsigned char byte) {
  // CharUpperA takes a single character in the low word of its argument.
  return static_cast<unsigned char>(reinterpret_cast<uintptr_t>(
      CharUpperA(reinterpret_cast<LPSTR>(static_cast<uintptr_t>(byte)))));
}

void codePageUpperBuffer(char* buffer, size_t length) {
  if (length != 0) CharUpperBuffA(buffer, static_cast<DWORD>(length));
}

int codePageToUtf16(const char* source, int sourceLength, uint16_t* target, int capacity) {
  return MultiByteToWideChar(CP_ACP, 0, source, sourceLength, reinterpret_cast<wchar_t*>(target),
                             capacity);
}

uint32_t codePageCurrent() { return GetACP(); }

}  // namespace platform
}  // namespace zp
