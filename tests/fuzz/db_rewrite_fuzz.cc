// The "+DB=" rewriting against its rules: the result differs from the input
// only by the process and thread digits, placed after the first "+DB=" value
// (letter case ignored, never starting on a trail byte of a double-byte
// character) or appended as a new "+DB=" option; a result that does not fit
// is refused as too long, with an empty output and nothing written past the
// capacity.
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "platform/platform.h"
#include "xa/open_string.h"

namespace {

struct Rewritten {
  int32_t result;
  std::string text;
};

Rewritten rewrite(const std::string& source, uint32_t capacity, const std::string& input) {
  Rewritten out{0, ""};
  out.text = zp::fuzz::boundedOutput(capacity, 'X', input, [&](char* buffer) {
    out.result = zp::rewrite_db_name(source.c_str(), buffer, capacity);
  });
  return out;
}

char upperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Where the first "+DB=" starts, stepping over double-byte characters whole
// (a lead byte that the next byte cannot trail is a character by itself).
size_t findDbOption(const std::string& source) {
  static const char kOption[] = "+DB=";
  for (size_t at = 0; at + 4 <= source.size();) {
    size_t i = 0;
    while (i < 4 && upperAscii(source[at + i]) == kOption[i]) ++i;
    if (i == 4) return at;
    const auto lead = static_cast<unsigned char>(source[at]);
    const auto next = static_cast<unsigned char>(source[at + 1]);
    at +=
        zp::platform::codePageIsLeadByte(lead) && zp::platform::codePageIsPair(lead, next) ? 2 : 1;
  }
  return std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::string source = input.c_str();
  const std::string ids = std::to_string(zp::platform::currentProcessId()) +
                          std::to_string(zp::platform::currentThreadId());

  std::string expected;
  const size_t db = findDbOption(source);
  if (db == std::string::npos) {
    expected = source + "+DB=" + ids;
  } else {
    size_t valueEnd = source.find('+', db + 4);
    if (valueEnd == std::string::npos) valueEnd = source.size();
    expected = source.substr(0, valueEnd) + ids + source.substr(valueEnd);
  }

  const uint32_t fitted = static_cast<uint32_t>(expected.size()) + 1;
  const uint32_t capacities[] = {fitted, fitted - 1, 0, zp::kOpenBufferSize,
                                 size > 0 ? static_cast<uint32_t>(data[size - 1]) * 4 : 1u};
  for (uint32_t capacity : capacities) {
    const Rewritten out = rewrite(source, capacity, input);
    if (fitted > capacity) {
      FUZZ_CHECK(out.result == zp::kOpenStringTooLong && out.text.empty(), input);
    } else {
      FUZZ_CHECK(out.result == 0 && out.text == expected, input);
    }
  }
  return 0;
}
