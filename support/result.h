// The result convention of the support operations: one that returns int32_t
// gives kSupportOk on success and kSupportFailed on failure (the failure has
// been reported through reportOutOfMemory or postError where the operation
// says so).
#ifndef ZP_SUPPORT_RESULT_H
#define ZP_SUPPORT_RESULT_H

#include <cstdint>

namespace zp {

constexpr int32_t kSupportOk = 0;
constexpr int32_t kSupportFailed = 1;

}  // namespace zp

#endif  // ZP_SUPPORT_RESULT_H
