// Counted UTF-16 strings: KvSubStringW is the view (length and units),
// KvStringW adds an owned, growable buffer and conversion of 8-bit text from
// the ANSI code page, UTF-16 units or UTF-8. Also the functions over
// NUL-terminated UTF-16 unit strings.
#ifndef ZP_SUPPORT_KVSTRINGW_H
#define ZP_SUPPORT_KVSTRINGW_H

#include <cstdint>

#include "support/kvobject.h"
#include "support/result.h"

namespace zp {

// Encodings of 8-bit input.
enum : int32_t {
  kEncodingAnsi = 1,   // the ANSI code page, double-byte aware
  kEncodingUtf16 = 2,  // the bytes are UTF-16 units already
  kEncodingUtf8 = 3,   // any value other than 1 and 2 means UTF-8
};

// Units before the terminator.
uint32_t wideLength(const uint16_t* text);
// Copies source up to and including its terminator.
void wideCopy(uint16_t* destination, const uint16_t* source);
// Unit by unit as unsigned values: -1, 0 or +1; a proper prefix sorts first.
int16_t wideCompare(const uint16_t* first, const uint16_t* second);
// 1 when both hold the same units (length included), else 0.
int wideEqual(const uint16_t* first, const uint16_t* second);
// The unit after the code point at text: two on when text is a high surrogate
// (0xD800 to 0xDBFF), else one.
const uint16_t* nextCodePoint(const uint16_t* text);

class KvSubStringW : public KvObject {
 public:
  KvSubStringW() = default;
  ~KvSubStringW() override;

  uint32_t length() const { return length_; }
  // Null for a string that has never held text; else terminated at length().
  const uint16_t* data() const { return data_; }

 protected:
  uint32_t length_ = 0;
  uint16_t* data_ = nullptr;
};

// Every operation that returns int32_t gives kSupportOk (0) on success and
// kSupportFailed (1) on failure (support/result.h).
// An allocation failure is reported through reportOutOfMemory; growing a
// buffer the string does not own posts message kMessageNotOwner.
class KvStringW : public KvSubStringW {
 public:
  KvStringW() = default;
  // Releases the buffer when the string owns it, and the second buffer.
  ~KvStringW() override;

  uint32_t capacity() const { return capacity_; }
  bool ownsBuffer() const { return owns_ != 0; }

  // Releases the buffer when owned; then empty with no buffer.
  void clear();
  // Makes the string a view of someone else's buffer: capacity units holding
  // length units and a terminator. The string never grows or releases it.
  // REQUIRES: no buffer of its own (freshly built or cleared).
  void attachBuffer(uint16_t* buffer, uint32_t length, uint32_t capacity);

  // The assign operations REQUIRE a string with no buffer (freshly built or
  // cleared): they put a new one in place without releasing an old one.
  //
  // Copies count units into a new buffer of count + 1 units.
  int32_t assignUtf16(const uint16_t* units, uint32_t count);
  // Converts bytes of 8-bit text in the given encoding. Allocates once, sized
  // from the input. ANSI text drops characters that cannot be converted and a
  // final lead byte without its trail byte, and still succeeds. Invalid UTF-8
  // posts message kMessageInvalidUtf8 (its record gets SQLSTATE "01004", id 4)
  // and fails with length 0.
  int32_t assign(const char* text, uint32_t bytes, int32_t encoding);
  // assign with the byte length of the terminated text.
  int32_t assignCString(const char* text, int32_t encoding);

  // Makes the buffer hold units units (terminator included), but never fewer
  // than the text and its terminator; length stays. On failure the old buffer
  // is untouched.
  int32_t reserve(uint32_t units);

  // Index of the first occurrence of the terminated pattern at or after
  // start, or length() when there is none. A match never begins on the low
  // half of a surrogate pair.
  uint32_t find(const uint16_t* pattern, uint32_t start) const;
  // Replaces removed units at index by textLength units of text (none when
  // text is null; the length of text when textLength is 0). An index or count
  // reaching past the end is cut to the end. Grows only when the text is
  // longer, to the exact size needed.
  int32_t replace(uint32_t index, uint32_t removed, const uint16_t* text, uint32_t textLength);
  // Replaces every occurrence of pattern by text, never searching inserted
  // text again. An empty pattern matches nothing.
  int32_t replaceAll(const uint16_t* pattern, uint32_t patternLength, const uint16_t* text,
                     uint32_t textLength);
  // The same with terminated strings; a null text removes every occurrence.
  int32_t replaceAll(const uint16_t* pattern, const uint16_t* text);

  // Case-insensitive comparison by code point with another KvSubStringW:
  // -1, 0 or +1. Upper-cases through ICU; compares code points exactly where
  // ICU is absent.
  int16_t compare(const KvObject& other) const override;

 protected:
  uint32_t capacity_ = 0;
  uint16_t* aux_ = nullptr;
  uint32_t owns_ = 1;

 private:
  // Allocates a buffer of units units for an assign. False (reported) when
  // memory runs out.
  bool allocateForAssign(uint32_t units);
  int32_t assignAnsi(const char* text, uint32_t bytes);
  int32_t assignUtf8(const char* text, uint32_t bytes);
  // find with a pattern of m units.
  uint32_t findCounted(const uint16_t* pattern, uint32_t m, uint32_t start) const;
};

}  // namespace zp

#endif  // ZP_SUPPORT_KVSTRINGW_H
