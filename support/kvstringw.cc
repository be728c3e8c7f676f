// UTF-16 unit strings and KvStringW; see kvstringw.h.
#include "support/kvstringw.h"

#include <cstring>

#include "platform/alloc.h"
#include "platform/platform.h"
#include "support/bytes.h"
#include "support/icu.h"
#include "support/kverror.h"
#include "support/perthred.h"

namespace zp {

namespace {

constexpr uint16_t kHighFirst = 0xD800;
constexpr uint16_t kHighLast = 0xDBFF;
constexpr uint16_t kLowFirst = 0xDC00;
constexpr uint16_t kLowLast = 0xDFFF;

bool isHigh(uint16_t unit) { return unit >= kHighFirst && unit <= kHighLast; }
bool isLow(uint16_t unit) { return unit >= kLowFirst && unit <= kLowLast; }

// Largest unit count whose byte size fits a size_t, with room for a
// terminator.
constexpr uint32_t kMaxUnits = static_cast<uint32_t>((SIZE_MAX / sizeof(uint16_t) - 1) < UINT32_MAX
                                                         ? SIZE_MAX / sizeof(uint16_t) - 1
                                                         : UINT32_MAX - 1);

// ICU counts in signed 32 bits.
constexpr uint32_t kMaxUtf8Bytes =
    kMaxUnits < static_cast<uint32_t>(INT32_MAX) ? kMaxUnits : static_cast<uint32_t>(INT32_MAX);

// The code point at text[0] with left units available, and the units it
// takes. Only a high surrogate followed by a low one forms a pair; an unpaired
// surrogate is a code point of its own.
uint32_t codePointAt(const uint16_t* text, uint32_t left, uint32_t* consumed) {
  if (isHigh(text[0]) && left >= 2 && isLow(text[1])) {
    *consumed = 2;
    return ((text[0] - 0xD800u) << 10) + (text[1] - 0xDC00u) + 0x10000u;
  }
  *consumed = 1;
  return text[0];
}

}  // namespace

uint32_t wideLength(const uint16_t* text) {
  uint32_t length = 0;
  while (text[length] != 0) ++length;
  return length;
}

void wideCopy(uint16_t* destination, const uint16_t* source) {
  while ((*destination++ = *source++) != 0) {
  }
}

int16_t wideCompare(const uint16_t* first, const uint16_t* second) {
  for (;; ++first, ++second) {
    if (*first != *second) return *first < *second ? -1 : 1;
    if (*first == 0) return 0;
  }
}

int wideEqual(const uint16_t* first, const uint16_t* second) {
  return wideCompare(first, second) == 0 ? 1 : 0;
}

const uint16_t* nextCodePoint(const uint16_t* text) { return text + (isHigh(*text) ? 2 : 1); }

KvSubStringW::~KvSubStringW() = default;

KvStringW::~KvStringW() {
  if (owns_ != 0) release(data_);
  release(aux_);
}

void KvStringW::clear() {
  if (owns_ != 0) release(data_);
  data_ = nullptr;
  length_ = 0;
  capacity_ = 0;
}

void KvStringW::attachBuffer(uint16_t* buffer, uint32_t length, uint32_t capacity) {
  clear();
  data_ = buffer;
  length_ = length;
  capacity_ = capacity;
  owns_ = 0;
}

bool KvStringW::allocateForAssign(uint32_t units) {
  // A string that still holds a buffer of its own gives it back first, so a
  // misplaced assign cannot leak it.
  clear();
  uint16_t* buffer =
      units <= kMaxUnits + 1 ? static_cast<uint16_t*>(allocate(sizeof(uint16_t) * units)) : nullptr;
  if (buffer == nullptr) {
    reportOutOfMemory();
    return false;
  }
  data_ = buffer;
  capacity_ = units;
  length_ = 0;
  owns_ = 1;
  return true;
}

int32_t KvStringW::assignUtf16(const uint16_t* units, uint32_t count) {
  if (count > kMaxUnits) {
    reportOutOfMemory();
    return kSupportFailed;
  }
  if (!allocateForAssign(count + 1)) return kSupportFailed;
  if (count != 0) std::memcpy(data_, units, sizeof(uint16_t) * count);
  data_[count] = 0;
  length_ = count;
  return kSupportOk;
}

int32_t KvStringW::assign(const char* text, uint32_t bytes, int32_t encoding) {
  if (encoding == kEncodingUtf16) {
    return assignUtf16(reinterpret_cast<const uint16_t*>(text), bytes);
  }
  if (encoding == kEncodingAnsi) return assignAnsi(text, bytes);
  return assignUtf8(text, bytes);
}

int32_t KvStringW::assignCString(const char* text, int32_t encoding) {
  return assign(text, byteLength(text), encoding);
}

int32_t KvStringW::assignAnsi(const char* text, uint32_t bytes) {
  // At most two units per byte (a character beyond the basic plane), plus the
  // terminator.
  if (bytes > (kMaxUnits - 1) / 2) {
    reportOutOfMemory();
    return kSupportFailed;
  }
  if (!allocateForAssign(2 * bytes + 1)) return kSupportFailed;
  uint32_t at = 0;
  while (at < bytes) {
    const unsigned char byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x80) {
      data_[length_++] = byte;
      ++at;
      continue;
    }
    // A lead byte whose trail byte is missing ends the text.
    if (bytes - at < 2 && platform::codePageIsLeadByte(byte)) break;
    const uint32_t size = static_cast<uint32_t>(charSize(text + at, kCharModeCodePage));
    const int room = static_cast<int>(capacity_ - length_ - 1);
    const int produced =
        platform::codePageToUtf16(text + at, static_cast<int>(size), data_ + length_, room);
    if (produced > 0) length_ += static_cast<uint32_t>(produced);
    at += size;
  }
  data_[length_] = 0;
  return kSupportOk;
}

int32_t KvStringW::assignUtf8(const char* text, uint32_t bytes) {
  if (bytes > kMaxUtf8Bytes) {
    reportOutOfMemory();
    return kSupportFailed;
  }
  if (!allocateForAssign(bytes + 1)) return kSupportFailed;
  int32_t produced = 0;
  const int32_t status = icu::fromUtf8(data_, static_cast<int32_t>(bytes), &produced, text,
                                       static_cast<int32_t>(bytes));
  if (!icu::isFailure(status) && produced >= 0 && static_cast<uint32_t>(produced) <= bytes) {
    length_ = static_cast<uint32_t>(produced);
    data_[length_] = 0;
    return kSupportOk;
  }
  length_ = 0;
  data_[0] = 0;
  KvError* record = postError(kMessageInvalidUtf8);
  // A record the list holds for everyone (its substitute) is left as it is.
  if (record != nullptr && !record->isStatic()) record->setSqlState(kSqlStateTruncated, 4);
  return kSupportFailed;
}

int32_t KvStringW::reserve(uint32_t units) {
  if (owns_ == 0) {
    postError(kMessageNotOwner);
    return kSupportFailed;
  }
  // Never below the text and its terminator: a smaller buffer would cut the
  // terminator off and leave the length pointing past the end.
  if (data_ != nullptr && units < length_ + 1) units = length_ + 1;
  void* grown = nullptr;
  if (units <= kMaxUnits + 1) {
    grown = data_ == nullptr ? allocate(sizeof(uint16_t) * units)
                             : reallocate(data_, sizeof(uint16_t) * units);
  }
  if (grown == nullptr) {
    reportOutOfMemory();
    return kSupportFailed;
  }
  data_ = static_cast<uint16_t*>(grown);
  capacity_ = units;
  return kSupportOk;
}

uint32_t KvStringW::find(const uint16_t* pattern, uint32_t start) const {
  return findCounted(pattern, wideLength(pattern), start);
}

uint32_t KvStringW::findCounted(const uint16_t* pattern, uint32_t m, uint32_t start) const {
  if (data_ == nullptr || start > length_ || m > length_ - start) return length_;
  // A start on the low half of a pair moves to the next code point.
  if (start > 0 && isLow(data_[start]) && isHigh(data_[start - 1])) ++start;
  const uint32_t last = length_ - m;
  for (uint32_t at = start; at <= last;) {
    if (std::memcmp(data_ + at, pattern, sizeof(uint16_t) * m) == 0) return at;
    at = static_cast<uint32_t>(nextCodePoint(data_ + at) - data_);
  }
  return length_;
}

int32_t KvStringW::replace(uint32_t index, uint32_t removed, const uint16_t* text,
                           uint32_t textLength) {
  if (text != nullptr && textLength == 0) textLength = wideLength(text);
  if (text == nullptr) textLength = 0;
  if (index > length_) index = length_;
  if (removed > length_ - index) removed = length_ - index;
  if (data_ == nullptr) {
    // A string without a buffer holds nothing to move or remove.
    if (textLength == 0) return kSupportOk;
    index = 0;
    removed = 0;
    length_ = 0;
  }
  if (textLength > removed) {
    const uint32_t growth = textLength - removed;
    if (growth > kMaxUnits - length_) {
      reportOutOfMemory();
      return kSupportFailed;
    }
    const uint32_t needed = length_ + growth + 1;
    if ((data_ == nullptr || capacity_ < needed) && reserve(needed) != kSupportOk)
      return kSupportFailed;
  }
  const uint32_t tail = length_ - index - removed;
  if (textLength != removed && tail != 0) {
    // memmove copies overlapping ranges safely in either direction.
    std::memmove(data_ + index + textLength, data_ + index + removed, sizeof(uint16_t) * tail);
  }
  if (textLength != 0) std::memcpy(data_ + index, text, sizeof(uint16_t) * textLength);
  length_ = length_ + textLength - removed;
  data_[length_] = 0;
  return kSupportOk;
}

int32_t KvStringW::replaceAll(const uint16_t* pattern, uint32_t patternLength, const uint16_t* text,
                              uint32_t textLength) {
  if (patternLength == 0) return kSupportOk;
  if (text == nullptr) textLength = 0;
  uint32_t at = 0;
  while (at < length_) {
    at = findCounted(pattern, patternLength, at);
    if (at == length_) break;
    // An empty text given with length 0 must stay empty: pass it as absent.
    if (replace(at, patternLength, textLength == 0 ? nullptr : text, textLength) != kSupportOk)
      return kSupportFailed;
    at += textLength;
  }
  return kSupportOk;
}

int32_t KvStringW::replaceAll(const uint16_t* pattern, const uint16_t* text) {
  return replaceAll(pattern, wideLength(pattern), text, text == nullptr ? 0 : wideLength(text));
}

int16_t KvStringW::compare(const KvObject& other) const {
  const KvSubStringW& that = static_cast<const KvSubStringW&>(other);
  const uint16_t* a = data_;
  const uint16_t* b = that.data();
  uint32_t leftA = data_ == nullptr ? 0 : length_;
  uint32_t leftB = b == nullptr ? 0 : that.length();
  while (leftA != 0 && leftB != 0) {
    uint32_t usedA = 0;
    uint32_t usedB = 0;
    const uint32_t pointA = codePointAt(a, leftA, &usedA);
    const uint32_t pointB = codePointAt(b, leftB, &usedB);
    if (pointA != pointB) {
      const uint32_t upperA = icu::toUpper(pointA);
      const uint32_t upperB = icu::toUpper(pointB);
      if (upperA != upperB) return upperA < upperB ? -1 : 1;
    }
    a += usedA;
    b += usedB;
    leftA -= usedA;
    leftB -= usedB;
  }
  if (leftA == leftB) return 0;
  return leftA < leftB ? -1 : 1;
}

}  // namespace zp
