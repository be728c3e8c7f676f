// Masking of account passwords in open strings. Byte by byte: a keyword is
// looked for after every byte below 0x80 that is not a letter or digit, which
// may be the trail byte of a double-byte character; masking there too only
// hides more, never less.
#include "support/open_mask.h"

namespace zp {

namespace {

constexpr char kMask[] = "****";

// Blanks, tabs, line ends, any control byte: what may stand between a keyword
// and its '=', and around a value.
bool isSpace(char c) { return static_cast<unsigned char>(c) < 0x21; }

// A byte after which a keyword may start: a space or control byte, DEL, or
// any ASCII punctuation ('+', ';', ',', '=', '_', ...).
bool isBoundary(char c) {
  const auto byte = static_cast<unsigned char>(c);
  if (byte < 0x21 || byte == 0x7f) return true;
  if (byte >= 0x80) return false;
  const bool letterOrDigit =
      (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z');
  return !letterOrDigit;
}

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Appends to a bounded output, counting what would have been written.
class MaskedOutput {
 public:
  MaskedOutput(char* out, size_t capacity) : out_(out), capacity_(capacity) {}

  void append(const char* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
      if (length_ + 1 < capacity_) out_[length_] = bytes[i];
      ++length_;
    }
  }

  // Terminates the output and returns the whole length.
  size_t finish() {
    if (capacity_ > 0) out_[length_ < capacity_ ? length_ : capacity_ - 1] = '\0';
    return length_;
  }

 private:
  char* out_;
  size_t capacity_;
  size_t length_ = 0;
};

// When an account keyword and its '=' start at text[at], the offset just past
// the '='; else 0.
size_t accountValueStart(const char* text, size_t length, size_t at) {
  static const char kKeyword[] = "acc";
  for (size_t i = 0; i + 1 < sizeof kKeyword; ++i, ++at) {
    if (at >= length || lowerAscii(text[at]) != kKeyword[i]) return 0;
  }
  while (at < length && isSpace(text[at])) ++at;
  return at < length && text[at] == '=' ? at + 1 : 0;
}

// Whether text[at] follows directly the prefix "ORACLE_XA" (any letter case)
// at the start of text, as in "ORACLE_XAAcc=".
bool afterPrefix(const char* text, size_t length, size_t at) {
  static const char kPrefix[] = "oracle_xa";
  if (at != sizeof kPrefix - 1 || length < at) return false;
  for (size_t i = 0; i < at; ++i) {
    if (lowerAscii(text[i]) != kPrefix[i]) return false;
  }
  return true;
}

// The offset of the first '/' in [from, end), or end.
size_t findSlash(const char* text, size_t from, size_t end) {
  while (from < end && text[from] != '/') ++from;
  return from;
}

// Writes the account value text[begin, end) with its password masked.
void appendMaskedValue(const char* text, size_t begin, size_t end, MaskedOutput* output) {
  if (begin == end) return;
  const bool marked = end - begin >= 2 && lowerAscii(text[begin]) == 'p' && text[begin + 1] == '/';
  const size_t user = marked ? begin + 2 : begin;
  const size_t slash = findSlash(text, user, end);
  if (slash == end) {
    if (marked) {
      output->append(text + begin, end - begin);  // "P/user": no password
    } else {
      output->append(kMask, sizeof kMask - 1);
    }
    return;
  }
  output->append(text + begin, slash + 1 - begin);
  output->append(kMask, sizeof kMask - 1);
}

}  // namespace

size_t mask_open_string(const char* text, size_t length, char* out, size_t capacity) {
  MaskedOutput output(out, capacity);
  if (length == 0) return output.finish();
  size_t copied = 0;  // text before this offset is written
  for (size_t at = 0; at < length; ++at) {
    const bool boundary = at == 0 || isBoundary(text[at - 1]) || afterPrefix(text, length, at);
    if (!boundary) continue;
    size_t value = accountValueStart(text, length, at);
    if (value == 0) continue;
    while (value < length && isSpace(text[value])) ++value;
    // The value ends at the next '+', or where another account keyword
    // starts inside it, which is then masked in its turn.
    size_t end = value;
    while (end < length && text[end] != '+' &&
           !(end > 0 && isBoundary(text[end - 1]) && accountValueStart(text, length, end) != 0)) {
      ++end;
    }
    output.append(text + copied, value - copied);
    appendMaskedValue(text, value, end, &output);
    copied = end;
    at = end - 1;  // the next look starts at the end: a '+', a keyword, or the end
  }
  output.append(text + copied, length - copied);
  return output.finish();
}

}  // namespace zp
