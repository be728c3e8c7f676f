// KvParamStringW: a KvStringW with numbered placeholders (%s1 ... %s9, then
// %sx10, %sx11 ...) that are replaced one after another. Error messages are
// of this type.
#ifndef ZP_SUPPORT_KVPARAMS_H
#define ZP_SUPPORT_KVPARAMS_H

#include <cstdint>

#include "support/kvstringw.h"

namespace zp {

class KvParamStringW : public KvStringW {
 public:
  enum : uint32_t { kSubstitutionFailed = 1u << 0 };  // a substitution ran out of memory

  KvParamStringW() = default;
  ~KvParamStringW() override;

  uint16_t paramCount() const { return paramCount_; }
  uint32_t paramFlags() const { return paramFlags_; }

  // Advances to the next placeholder and replaces every occurrence of it by
  // the terminated text. A placeholder that does not occur is not an error.
  // Returns kSupportOk, or kSupportFailed (kSubstitutionFailed set) when memory
  // ran out; occurrences replaced before then stay replaced.
  int32_t substitute(const uint16_t* text);
  // The same with another string's contents.
  int32_t substitute(const KvSubStringW& text);

 private:
  int32_t substituteCounted(const uint16_t* text, uint32_t textLength);

  uint16_t paramCount_ = 0;
  uint32_t paramFlags_ = 0;
};

}  // namespace zp

#endif  // ZP_SUPPORT_KVPARAMS_H
