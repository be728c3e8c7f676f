// GoogleTest's Notification for the win32 thread model, which has no
// std::mutex: a manual-reset event. Force-included when GoogleTest is
// cross-built (tests/CMakeLists.txt), with GTEST_HAS_NOTIFICATION_ set.
#ifndef ZP_TESTS_TESTLIB_WIN32_GTEST_NOTIFICATION_H
#define ZP_TESTS_TESTLIB_WIN32_GTEST_NOTIFICATION_H
#ifdef __cplusplus

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace testing {
namespace internal {

class Notification {
 public:
  Notification() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~Notification() { CloseHandle(event_); }
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;
  void Notify() { SetEvent(event_); }
  void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

 private:
  HANDLE event_;
};

}  // namespace internal
}  // namespace testing

#endif  // __cplusplus
#endif  // ZP_TESTS_TESTLIB_WIN32_GTEST_NOTIFICATION_H
