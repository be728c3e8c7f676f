#include "tools/xadriver/open_text.h"

#include "support/open_mask.h"

namespace zp {
namespace xadriver {
namespace {

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// The options of text: [begin, end) of each piece that starts with '+'.
template <typename Visit>
void forEachOption(const std::string& text, Visit visit) {
  for (size_t at = text.find('+'); at != std::string::npos;) {
    const size_t next = text.find('+', at + 1);
    visit(at, next == std::string::npos ? text.size() : next);
    at = next;
  }
}

// Whether the option at [begin, end) has the keyword; sets *value to where its
// value starts.
bool hasKeyword(const std::string& text, size_t begin, size_t end, const char* keyword,
                size_t* value) {
  const size_t equals = text.find('=', begin);
  if (equals == std::string::npos || equals >= end) return false;
  *value = equals + 1;
  return sameIgnoringCase(text.substr(begin + 1, equals - begin - 1), keyword);
}

}  // namespace

bool sameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (upper(a[i]) != upper(b[i])) return false;
  }
  return true;
}

std::string maskPassword(const std::string& text) {
  const size_t length = mask_open_string(text.data(), text.size(), nullptr, 0);
  std::string masked(length + 1, '\0');
  mask_open_string(text.data(), text.size(), &masked[0], masked.size());
  masked.resize(length);
  return masked;
}

std::string dbValue(const std::string& text) {
  std::string found;
  bool seen = false;
  forEachOption(text, [&](size_t begin, size_t end) {
    size_t value = 0;
    if (!seen && hasKeyword(text, begin, end, "DB", &value)) {
      found = text.substr(value, end - value);
      seen = true;
    }
  });
  return found;
}

}  // namespace xadriver
}  // namespace zp
