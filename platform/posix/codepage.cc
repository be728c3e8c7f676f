// The "ANSI code page" on Linux: the character set of the LC_CTYPE locale.
// The module selects the locale from the environment when it is loaded; the
// lead-byte table is taken then and stays fixed for the process, as the ANSI
// code page does on Windows.
#include <langinfo.h>

#include <atomic>
#include <cctype>
#include <clocale>
#include <cstring>
#include <cuchar>
#include <cwchar>

#include "platform/platform.h"

namespace zp {
namespace platform {
namespace {

// A byte is a lead byte when it does not form a character by itself but
// begins one of exactly two bytes with some trail byte; trail holds, for each
// lead byte, the set of bytes that complete it.
struct LeadTable {
  std::atomic<bool> ready;
  bool lead[256];
  uint8_t trail[256][32];
};
LeadTable g_leadTable;

// Marks the bytes that complete byte to a two-byte character; true when any does.
bool recordTrailBytes(unsigned char byte) {
  std::mbstate_t state{};
  wchar_t wide;
  const char single = static_cast<char>(byte);
  if (std::mbrtowc(&wide, &single, 1, &state) != static_cast<size_t>(-2)) return false;
  bool any = false;
  for (int trail = 0x40; trail <= 0xFF; ++trail) {
    const char pair[2] = {static_cast<char>(byte), static_cast<char>(trail)};
    std::mbstate_t fresh{};
    if (std::mbrtowc(&wide, pair, 2, &fresh) == 2) {
      g_leadTable.trail[byte][trail >> 3] |= static_cast<uint8_t>(1u << (trail & 7));
      any = true;
    }
  }
  return any;
}

void buildLeadTable() {
  std::memset(g_leadTable.trail, 0, sizeof g_leadTable.trail);
  for (int byte = 0; byte < 256; ++byte) {
    g_leadTable.lead[byte] = byte >= 0x80 && recordTrailBytes(static_cast<unsigned char>(byte));
  }
  g_leadTable.ready.store(true, std::memory_order_release);
}

struct CodePageName {
  const char* codeset;
  uint32_t number;
};

const CodePageName kCodePages[] = {
    {"UTF-8", 65001}, {"ANSI_X3.4-1968", 20127}, {"ISO-8859-1", 28591}, {"ISO-8859-15", 28605},
    {"CP1252", 1252}, {"SHIFT_JIS", 932},        {"SJIS", 932},         {"EUC-JP", 20932},
    {"GBK", 936},     {"GB2312", 936},           {"EUC-KR", 949},       {"BIG5", 950},
};

}  // namespace

void codePageSelect() {
  std::setlocale(LC_CTYPE, "");
  buildLeadTable();
}

bool codePageIsLeadByte(unsigned char byte) {
  if (!g_leadTable.ready.load(std::memory_order_acquire)) buildLeadTable();
  return g_leadTable.lead[byte];
}

bool codePageIsPair(unsigned char lead, unsigned char trail) {
  if (!codePageIsLeadByte(lead)) return false;
  return (g_leadTable.trail[lead][trail >> 3] & (1u << (trail & 7))) != 0;
}

unsigned char codePageUpperByte(unsigned char byte) {
  return static_cast<unsigned char>(std::toupper(byte));
}

void codePageUpperBuffer(char* buffer, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    const unsigned char byte = static_cast<unsigned char>(buffer[i]);
    if (codePageIsLeadByte(byte) && i + 1 < length) {
      ++i;
      continue;
    }
    buffer[i] = static_cast<char>(codePageUpperByte(byte));
  }
}

int codePageToUtf16(const char* source, int sourceLength, uint16_t* target, int capacity) {
  std::mbstate_t state{};
  int used = 0;
  int offset = 0;
  while (offset < sourceLength) {
    char32_t wide;
    const size_t consumed =
        std::mbrtoc32(&wide, source + offset, static_cast<size_t>(sourceLength - offset), &state);
    if (consumed == static_cast<size_t>(-1) || consumed == static_cast<size_t>(-2)) return 0;
    const uint32_t codePoint = wide;
    const int units = codePoint > 0xFFFF ? 2 : 1;
    if (used + units > capacity) return 0;
    if (units == 2) {
      const uint32_t value = codePoint - 0x10000;
      target[used++] = static_cast<uint16_t>(0xD800 + (value >> 10));
      target[used++] = static_cast<uint16_t>(0xDC00 + (value & 0x3FF));
    } else {
      target[used++] = static_cast<uint16_t>(codePoint);
    }
    offset += consumed == 0 ? 1 : static_cast<int>(consumed);
  }
  return used;
}

uint32_t codePageCurrent() {
  const char* codeset = nl_langinfo(CODESET);
  if (codeset == nullptr) return 0;
  for (const CodePageName& known : kCodePages) {
    if (std::strcmp(codeset, known.codeset) == 0) return known.number;
  }
  return 0;
}

}  // namespace platform
}  // namespace zp
