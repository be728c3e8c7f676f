// What every harness shares: an invariant check that names the broken rule
// and the input, then aborts so that libFuzzer keeps the input as a crash;
// and a bounded output buffer for the parsers that write into one.
#ifndef ZP_TESTS_FUZZ_FUZZ_CHECK_H
#define ZP_TESTS_FUZZ_FUZZ_CHECK_H

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace zp {
namespace fuzz {

// The input as C escapes, short enough for one line of a report.
inline std::string printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text.substr(0, 400)) {
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02x", c);
      out += escape;
    }
  }
  return text.size() > 400 ? out + "..." : out;
}

[[noreturn]] inline void fail(const char* file, int line, const char* rule,
                              const std::string& input) {
  std::fprintf(stderr, "%s:%d: invariant broken: %s\n  input: \"%s\"\n", file, line, rule,
               printable(input).c_str());
  std::abort();
}

}  // namespace fuzz
}  // namespace zp

// Checks rule for input (a std::string shown when the rule fails).
#define FUZZ_CHECK(rule, input) \
  ((rule) ? static_cast<void>(0) : ::zp::fuzz::fail(__FILE__, __LINE__, #rule, (input)))

namespace zp {
namespace fuzz {

// Runs write(buffer) on a heap buffer of exactly capacity bytes, filled with
// fill (not a terminator), so that an overrun (the sanitizer) or a missing
// terminator shows, and returns the text written ("" for capacity 0).
template <typename Write>
std::string boundedOutput(size_t capacity, char fill, const std::string& input, Write write) {
  std::unique_ptr<char[]> out(new char[capacity]);
  std::memset(out.get(), fill, capacity);
  write(out.get());
  if (capacity == 0) return "";
  FUZZ_CHECK(std::memchr(out.get(), '\0', capacity) != nullptr, input);
  return out.get();
}

}  // namespace fuzz
}  // namespace zp

#endif  // ZP_TESTS_FUZZ_FUZZ_CHECK_H
