// ICU on Windows: the operating system's own icu.dll (newer systems) or
// icuuc.dll (older ones), both of which export the unversioned C names. The
// library is looked up on first use, through the platform layer, and kept for
// the life of the process; where neither exists the services degrade as
// icu.h says.
#include <atomic>

#include "platform/platform.h"
#include "support/icu.h"

namespace zp {
namespace icu {
namespace {

using FromUtf8 = uint16_t* (*)(uint16_t* target, int32_t capacity, int32_t* length,
                               const char* source, int32_t sourceLength, int32_t* status);
using ToUpper = int32_t (*)(int32_t codePoint);

struct Binding {
  FromUtf8 fromUtf8;
  ToUpper toUpper;
};

enum : int { kUnresolved = 0, kResolved, kAbsent };

// Zero at load. Threads that race on first use may each look the library up;
// the first to publish wins and the others give their reference back.
std::atomic<int> g_state;
Binding g_binding;
std::atomic<bool> g_publishing;

const char* const kLibraryNames[] = {"icu.dll", "icuuc.dll"};

bool lookUp(Binding* binding, platform::Library** library) {
  for (const char* name : kLibraryNames) {
    platform::Library* candidate = platform::libraryLoad(name);
    if (candidate == nullptr) continue;
    binding->fromUtf8 =
        reinterpret_cast<FromUtf8>(platform::librarySymbol(candidate, "u_strFromUTF8"));
    binding->toUpper = reinterpret_cast<ToUpper>(platform::librarySymbol(candidate, "u_toupper"));
    if (binding->fromUtf8 != nullptr && binding->toUpper != nullptr) {
      *library = candidate;
      return true;
    }
    platform::libraryUnload(candidate);
  }
  return false;
}

const Binding* binding() {
  int state = g_state.load(std::memory_order_acquire);
  if (state == kUnresolved) {
    Binding found = {};
    platform::Library* library = nullptr;
    const bool present = lookUp(&found, &library);
    bool expected = false;
    if (g_publishing.compare_exchange_strong(expected, true)) {
      if (present) g_binding = found;
      g_state.store(present ? kResolved : kAbsent, std::memory_order_release);
    } else if (library != nullptr) {
      platform::libraryUnload(library);
    }
    // A thread that lost the race waits for the winner's store, which follows
    // at once.
    while ((state = g_state.load(std::memory_order_acquire)) == kUnresolved) {
    }
  }
  return state == kResolved ? &g_binding : nullptr;
}

}  // namespace

int32_t fromUtf8(uint16_t* target, int32_t capacity, int32_t* length, const char* source,
                 int32_t sourceLength) {
  *length = 0;
  const Binding* icu = binding();
  if (icu == nullptr) return kUnavailable;
  int32_t status = kStatusOk;
  icu->fromUtf8(target, capacity, length, source, sourceLength, &status);
  return status;
}

uint32_t toUpper(uint32_t codePoint) {
  const Binding* icu = binding();
  if (icu == nullptr) return codePoint;
  return static_cast<uint32_t>(icu->toUpper(static_cast<int32_t>(codePoint)));
}

bool available() { return binding() != nullptr; }

}  // namespace icu
}  // namespace zp
