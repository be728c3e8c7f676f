// Placeholder substitution; see kvparams.h.
#include "support/kvparams.h"

#include "support/bytes.h"

namespace zp {

KvParamStringW::~KvParamStringW() = default;

int32_t KvParamStringW::substituteCounted(const uint16_t* text, uint32_t textLength) {
  ++paramCount_;
  // "%s", an "x" from the tenth on (so that %s1 is never a prefix of a later
  // placeholder), then at most five digits and a terminator.
  uint16_t placeholder[16] = {'%', 's'};
  uint32_t at = 2;
  if (paramCount_ >= 10) placeholder[at++] = 'x';
  at += formatDecimalWideZ(placeholder + at, paramCount_);
  if (replaceAll(placeholder, at, text, textLength) != 0) {
    paramFlags_ |= kSubstitutionFailed;
    return kSupportFailed;
  }
  return kSupportOk;
}

int32_t KvParamStringW::substitute(const uint16_t* text) {
  return substituteCounted(text, text == nullptr ? 0 : wideLength(text));
}

int32_t KvParamStringW::substitute(const KvSubStringW& text) {
  return substituteCounted(text.data(), text.data() == nullptr ? 0 : text.length());
}

}  // namespace zp
