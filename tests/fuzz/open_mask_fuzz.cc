// The masking of open strings: an open string with account options built
// around a password of one marker byte that appears nowhere else shows no
// marker byte once masked, whatever surrounds the options and however they
// are introduced (a '+', punctuation, a control byte, the prefix itself); the result is the
// same at any capacity, cut and terminated; and masking does not change what
// the open-string filter makes of the string (masking and filtering commute),
// trace names that hold an account keyword aside.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_check.h"
#include "xa/open_string.h"
#include "zpor8dtc23/xa.h"
#include ZP_OPEN_MASK_HEADER

namespace {

// In the input, this byte and the two after it stand for an account option.
constexpr char kOption = '\x01';

// The bytes the harness itself writes around a password.
const char kOwnBytes[] = "+;,( \t\v\f\x02=AaCcPp/scott";

// A byte that can stand for a password: in neither the input nor the
// harness's own text, and not one the masking or the filter treats specially.
int markerFor(const std::string& text) {
  static const char kCandidates[] = "!$%&'(),-.:;<>?@[]^_`{|}~0123456789";
  for (const char* c = kCandidates; *c != '\0'; ++c) {
    if (text.find(*c) == std::string::npos && std::strchr(kOwnBytes, *c) == nullptr) return *c;
  }
  for (int c = 0x80; c <= 0xff; ++c) {
    if (text.find(static_cast<char>(c)) == std::string::npos) return c;
  }
  return -1;
}

// Whether text is the prefix "ORACLE_XA" (any letter case) and nothing more.
bool isPrefix(const std::string& text) {
  static const char kPrefix[] = "oracle_xa";
  if (text.size() != sizeof kPrefix - 1) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] + 32) : text[i];
    if (c != kPrefix[i]) return false;
  }
  return true;
}

// What introduces the keyword ("+", punctuation, a control byte, or nothing
// right after the prefix), the keyword "Acc" in some letter case with spaces
// or control bytes around it, "=", and a value in one of the forms that holds
// a password. before is the text the option follows.
std::string accountOption(uint8_t shape, uint8_t size, char marker, const std::string& before) {
  static const char* const kKeywords[] = {"Acc", "ACC", "acc", "aCc"};
  static const char* const kSpaces[] = {"", " ", "\t", " \t ", "\v", "\f\x02\r\n"};
  static const char* const kIntroducers[] = {"+", "+", ";", ",", "(", "\v", "+\f", ""};
  std::string option = kIntroducers[(size >> 4) & 7];
  if (option.empty() && !isPrefix(before)) option = "+";
  const bool controls = (size & 0x80) != 0;
  option += kSpaces[(shape >> 2) & 1 ? (controls ? 4 : 1) : 0];
  option += kKeywords[shape & 3];
  option += kSpaces[(shape >> 3) & 1 ? (controls ? 5 : 2) : 0];
  option += "=";
  option += kSpaces[(shape >> 4) & 1 ? (controls ? 4 : 3) : 0];
  const std::string user = (shape & 0x80) != 0 ? "" : "scott";
  const std::string password(1 + size % 16, marker);
  switch ((shape >> 5) & 3) {
    case 0:
      return option + "P/" + user + "/" + password;
    case 1:
      return option + "p/" + user + "/" + password;
    case 2:
      return option + user + "/" + password;
    default:
      return option + password;
  }
}

std::string mask(const std::string& text, size_t capacity, size_t* length,
                 const std::string& input) {
  return zp::fuzz::boundedOutput(capacity, '\x7f', input, [&](char* buffer) {
    *length = zp::mask_open_string(text.data(), text.size(), buffer, capacity);
  });
}

std::string masked(const std::string& text, const std::string& input) {
  size_t length = 0;
  mask(text, 0, &length, input);
  const std::string whole = mask(text, length + 1, &length, input);
  FUZZ_CHECK(whole.size() == length, input);
  return whole;
}

struct Filtered {
  int32_t result;
  std::string text;
  int32_t level;
  const char* dll;
  const char* file;
};

bool holdsAccount(const char* name) {
  for (const char* at = name; at != nullptr && *at != '\0'; ++at) {
    if ((at[0] | 0x20) == 'a' && (at[1] | 0x20) == 'c' && (at[2] | 0x20) == 'c') return true;
  }
  return false;
}

// A trace name taken from the masked text is the one taken from the original,
// unless the original holds an account keyword (a name ends only at a space,
// a '+' or the end, so "\tAcc=..." may stand inside one), which masking may
// change; the masked name never holds the password.
bool sameTraceName(const char* original, const char* masked, char marker) {
  if (masked == original) return true;
  return masked != nullptr && holdsAccount(original) && std::strchr(masked, marker) == nullptr;
}

Filtered filter(const std::string& source) {
  std::unique_ptr<char[]> out(new char[source.size() + 1]);
  const int32_t result =
      zp::parse_open_options(source.c_str(), static_cast<uint32_t>(source.size()), out.get(),
                             static_cast<uint32_t>(source.size()) + 1);
  return {result, out.get(), zp::trace_options_level(), zp::trace_options_dll_name(),
          zp::trace_options_file_name()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::string rest;  // the input without its option placeholders
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == kOption) {
      i += 2;
    } else {
      rest += static_cast<char>(data[i]);
    }
  }
  const int marker = markerFor(rest);
  if (marker < 0) return 0;

  std::string text;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] != kOption) {
      text += static_cast<char>(data[i]);
      continue;
    }
    text += accountOption(i + 1 < size ? data[i + 1] : 0, i + 2 < size ? data[i + 2] : 0,
                          static_cast<char>(marker), text);
    i += 2;
    if (i + 1 < size) text += '+';  // the password ends where its option does
  }
  text = text.c_str();  // a caller hands over a terminated string

  const std::string whole = masked(text, input);
  FUZZ_CHECK(whole.find(static_cast<char>(marker)) == std::string::npos, input + " | " + whole);
  if (text.find_first_of("aA") == std::string::npos) FUZZ_CHECK(whole == text, input);

  // A smaller buffer holds the start of the same text.
  for (size_t capacity : {size_t{0}, size_t{1}, whole.size() / 2, whole.size()}) {
    size_t length = 0;
    const std::string cut = mask(text, capacity, &length, input);
    FUZZ_CHECK(length == whole.size(), input);
    if (capacity > 0) FUZZ_CHECK(cut == whole.substr(0, capacity - 1), input);
  }

  // The filter's verdict, its output and the trace options it sets are the
  // same for the masked text, up to the masking of its output.
  const Filtered original = filter(text);
  const Filtered fromMasked = filter(whole);
  const std::string shown = input + " | " + whole + " | " + fromMasked.text;
  FUZZ_CHECK(fromMasked.result == original.result, shown);
  FUZZ_CHECK(fromMasked.text == masked(original.text, input), shown);
  FUZZ_CHECK(fromMasked.level == original.level, shown);
  FUZZ_CHECK(sameTraceName(original.dll, fromMasked.dll, static_cast<char>(marker)), shown);
  FUZZ_CHECK(sameTraceName(original.file, fromMasked.file, static_cast<char>(marker)), shown);
  return 0;
}
