// ICU on Linux: the distribution's library, linked directly.
#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include "support/icu.h"

namespace zp {
namespace icu {

static_assert(sizeof(UChar) == sizeof(uint16_t), "UTF-16 units are 16 bits");

int32_t fromUtf8(uint16_t* target, int32_t capacity, int32_t* length, const char* source,
                 int32_t sourceLength) {
  UErrorCode status = U_ZERO_ERROR;
  u_strFromUTF8(reinterpret_cast<UChar*>(target), capacity, length, source, sourceLength, &status);
  return static_cast<int32_t>(status);
}

uint32_t toUpper(uint32_t codePoint) {
  return static_cast<uint32_t>(u_toupper(static_cast<UChar32>(codePoint)));
}

bool available() { return true; }

}  // namespace icu
}  // namespace zp
