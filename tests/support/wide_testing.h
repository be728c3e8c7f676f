// Helpers for the wide-string and error-record tests: UTF-16 literals as unit
// pointers, a string's contents as std::u16string, and an error list
// installed in the calling thread's slot 0 for the scope of a test.
#ifndef ZP_TESTS_SUPPORT_WIDE_TESTING_H
#define ZP_TESTS_SUPPORT_WIDE_TESTING_H

#include <string>

#include "platform/platform.h"
#include "support/kvlist.h"
#include "support/kvstringw.h"
#include "support/perthred.h"

namespace zp {
namespace test {

inline const uint16_t* units(const char16_t* text) {
  return reinterpret_cast<const uint16_t*>(text);
}

inline std::u16string contents(const KvSubStringW& text) {
  if (text.data() == nullptr) return std::u16string();
  return std::u16string(reinterpret_cast<const char16_t*>(text.data()), text.length());
}

// Installs list as the calling thread's error list until destroyed.
class ErrorListScope {
 public:
  explicit ErrorListScope(KvErrorList* list)
      : record_(findThreadInfo(platform::currentThreadId())) {
    record_->slots[0] = list;
  }
  ~ErrorListScope() { record_->slots[0] = nullptr; }
  ErrorListScope(const ErrorListScope&) = delete;
  ErrorListScope& operator=(const ErrorListScope&) = delete;

 private:
  KvThreadInfo* record_;
};

}  // namespace test
}  // namespace zp

#endif  // ZP_TESTS_SUPPORT_WIDE_TESTING_H
