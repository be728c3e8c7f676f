// The two ICU services the wide strings need: UTF-8 to UTF-16 conversion and
// upper-casing of one code point. Linux links Debian's ICU directly; Windows
// uses the system's own icu.dll (else icuuc.dll), found at first use, so the
// module still loads where neither exists.
#ifndef ZP_SUPPORT_ICU_H
#define ZP_SUPPORT_ICU_H

#include <cstdint>

namespace zp {
namespace icu {

// Status values as ICU reports them: 0 success, negative a warning, positive
// an error. kUnavailable is the error reported when ICU cannot be found.
enum : int32_t {
  kStatusOk = 0,
  kInvalidCharFound = 10,
  kUnavailable = 0x10000,
};

inline bool isFailure(int32_t status) { return status > kStatusOk; }

// Converts sourceLength bytes of UTF-8 into at most capacity UTF-16 units at
// target (no terminator is required to fit). Stores the units produced in
// *length and returns the status.
int32_t fromUtf8(uint16_t* target, int32_t capacity, int32_t* length, const char* source,
                 int32_t sourceLength);
// The simple upper-case mapping of codePoint; the code point itself when ICU
// is unavailable.
uint32_t toUpper(uint32_t codePoint);
// True when the ICU services are present (always on Linux).
bool available();

}  // namespace icu
}  // namespace zp

#endif  // ZP_SUPPORT_ICU_H
