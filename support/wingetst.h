// Resource messages: a message id turned into UTF-16 text from the module's
// string resources, by the wide resource call, or by the ANSI call and a
// code-page conversion on the old ANSI-only Windows versions.
#ifndef ZP_SUPPORT_WINGETST_H
#define ZP_SUPPORT_WINGETST_H

#include <atomic>
#include <cstdint>

namespace zp {

// Units of the buffer loadMessage fills.
constexpr uint32_t kMessageCapacity = 512;
// Bytes of the staging buffer of an ANSI load.
constexpr int kAnsiStagingSize = 1536;

// The system calls resource loading goes through. They are the platform
// layer's; the module's own tests replace them to script a version report or
// a resource text. Nothing else changes them.
struct ResourceCalls {
  bool (*versionQuery)(uint32_t* major, uint32_t* minor);
  int (*loadStringW)(void* instance, uint32_t id, uint16_t* buffer, int capacity);
  int (*loadStringA)(void* instance, uint32_t id, char* buffer, int capacity);
};
extern ResourceCalls g_resourceCalls;

// Use-ANSI flag values.
enum : int32_t {
  kAnsiUndecided = -1,
  kAnsiWide = 0,  // LoadStringW
  kAnsiAnsi = 1,  // LoadStringA and conversion from the ANSI code page
};
// -1 when the module is loaded; decided once, on the first load. Two threads
// that decide it at once reach the same value, so no lock guards it.
extern std::atomic<int32_t> g_useAnsi;

// Asks for the system's version and stores the decision in g_useAnsi: the ANSI
// path for versions 4.0, 4.10 and 4.90 and when the query fails, the wide path
// otherwise. Returns the decision.
int32_t detectAnsiPlatform();

// Loads string resource id of instance into output (capacity units). Returns 0
// when the text is absent, nonzero when one was placed. With capacity 1 or
// more the output always holds a terminated string afterwards (empty when
// absent); a text too long for it is cut, never written past the capacity.
uint32_t loadResourceText(void* instance, uint16_t id, uint16_t* output, uint32_t capacity);
// loadResourceText of the module's own resources into kMessageCapacity units.
uint32_t loadMessage(uint16_t* output, uint16_t id);

}  // namespace zp

#endif  // ZP_SUPPORT_WINGETST_H
