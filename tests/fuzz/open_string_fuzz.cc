// The open-string filter against its rules: the verdict (kept, no prefix, too
// long) is decided by the source alone and the capacity, the output is
// exactly the prefix as written plus the options the client understands in
// source order, bytes unchanged, filtering the output again changes nothing,
// and nothing is written past the capacity.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "xa/open_string.h"
#include "zpor8dtc23/xa.h"

namespace {

struct Filtered {
  int32_t result;
  std::string text;
};

// Filters source into a bounded buffer of exactly capacity bytes.
Filtered filter(const std::string& source, uint32_t capacity, const std::string& input) {
  Filtered out{0, ""};
  out.text = zp::fuzz::boundedOutput(capacity, 'X', input, [&](char* buffer) {
    out.result = zp::parse_open_options(source.c_str(), static_cast<uint32_t>(source.size()),
                                        buffer, capacity);
  });
  return out;
}

char upperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool equalsNoCase(const std::string& a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (upperAscii(a[i]) != upperAscii(b[i])) return false;
  }
  return true;
}

bool isCopiedKeyword(const std::string& keyword) {
  for (const char* name : {"ACC", "DB", "SesTM", "SqlNet", "Threads"}) {
    if (equalsNoCase(keyword, name)) return true;
  }
  return false;
}

// The filtered form by the rules alone: the prefix as written, then each
// '+'-separated option whose keyword (the text before its '=') is one the
// client understands; a keyword without '=' counts only as the last option,
// since otherwise the keyword runs on to a later option's '='.
std::string expectedFilter(const std::string& source) {
  std::string expected = source.substr(0, 9);
  size_t at = source.find('+');
  while (at != std::string::npos) {
    const size_t next = source.find('+', at + 1);
    const std::string option =
        source.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1);
    const size_t equals = option.find('=');
    const bool kept = equals != std::string::npos
                          ? isCopiedKeyword(option.substr(0, equals))
                          : next == std::string::npos && isCopiedKeyword(option);
    if (kept) expected += "+" + option;
    at = next;
  }
  return expected;
}

struct TraceSnapshot {
  int32_t level;
  const char* dll;
  const char* file;
  bool operator==(const TraceSnapshot& other) const {
    return level == other.level && dll == other.dll && file == other.file;
  }
};

TraceSnapshot traceSnapshot() {
  return {zp::trace_options_level(), zp::trace_options_dll_name(), zp::trace_options_file_name()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::string source = input.c_str();  // the parser reads up to the terminator
  const uint32_t length = static_cast<uint32_t>(source.size());
  const bool prefixed = source.size() >= 9 && equalsNoCase(source.substr(0, 9), "ORACLE_XA");

  // Room for the whole source is always enough.
  const TraceSnapshot before = traceSnapshot();
  const Filtered ample = filter(source, length + 1, input);
  if (!prefixed) {
    FUZZ_CHECK(ample.result == XAER_RMERR && ample.text.empty(), input);
    FUZZ_CHECK(traceSnapshot() == before, input);
  } else {
    FUZZ_CHECK(ample.result == 0, input);
    FUZZ_CHECK(ample.text == expectedFilter(source), input);

    // Idempotent: the output holds only kept options, and no trace option.
    const TraceSnapshot after = traceSnapshot();
    const Filtered again = filter(ample.text, static_cast<uint32_t>(ample.text.size()) + 1, input);
    FUZZ_CHECK(again.result == 0 && again.text == ample.text, input);
    FUZZ_CHECK(traceSnapshot() == after, input);
  }

  // "Too long" exactly when the filtered string and its terminator exceed the
  // capacity; the output is then empty. The capacity comes from the input's
  // last byte, past the terminator when there is one.
  const uint32_t fitted = static_cast<uint32_t>(ample.text.size()) + 1;
  const uint32_t capacities[] = {0, 1, fitted - 1, fitted, size > 0 ? data[size - 1] : 0u};
  for (uint32_t capacity : capacities) {
    const Filtered cut = filter(source, capacity, input);
    if (capacity == 0 || (prefixed && fitted > capacity)) {
      FUZZ_CHECK(cut.result == zp::kOpenStringTooLong && cut.text.empty(), input);
    } else {
      FUZZ_CHECK(cut.result == ample.result && cut.text == ample.text, input);
    }
  }
  return 0;
}
