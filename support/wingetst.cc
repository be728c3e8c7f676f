// Resource messages; see wingetst.h.
#include "support/wingetst.h"

#include "platform/platform.h"

namespace zp {

ResourceCalls g_resourceCalls = {platform::versionQuery, platform::resourceLoadStringW,
                                 platform::resourceLoadStringA};

std::atomic<int32_t> g_useAnsi{kAnsiUndecided};

int32_t detectAnsiPlatform() {
  uint32_t major = 0;
  uint32_t minor = 0;
  // A failed query, or one of the old ANSI-only versions, takes the ANSI path.
  // The platform id is not consulted: any system reporting 4.0, 4.10 or 4.90
  // does.
  const bool queried = g_resourceCalls.versionQuery(&major, &minor);
  const bool ansiOnly = major == 4 && (minor == 0 || minor == 10 || minor == 90);
  const int32_t decision = !queried || ansiOnly ? kAnsiAnsi : kAnsiWide;
  g_useAnsi.store(decision, std::memory_order_relaxed);
  return decision;
}

namespace {

bool isHighSurrogate(uint16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

// Loads by the ANSI call and converts the staged text, terminator included.
// A converted text longer than the output is cut at a code-point boundary.
uint32_t loadAnsi(void* instance, uint16_t id, uint16_t* output, uint32_t capacity) {
  char staged[kAnsiStagingSize];
  const int bytes = g_resourceCalls.loadStringA(instance, id, staged, kAnsiStagingSize);
  if (bytes <= 0) {
    output[0] = 0;
    return 0;
  }
  const int stagedLength = bytes < kAnsiStagingSize ? bytes : kAnsiStagingSize - 1;
  staged[stagedLength] = '\0';
  // One byte never yields more than one unit, so the whole text fits here.
  uint16_t converted[kAnsiStagingSize];
  const int units =
      platform::codePageToUtf16(staged, stagedLength + 1, converted, kAnsiStagingSize);
  if (units <= 0) {
    output[0] = 0;
    return 0;
  }
  uint32_t kept = static_cast<uint32_t>(units) - 1;  // without the terminator
  if (kept >= capacity) {
    kept = capacity - 1;
    if (kept > 0 && isHighSurrogate(converted[kept - 1])) --kept;
  }
  for (uint32_t i = 0; i < kept; ++i) output[i] = converted[i];
  output[kept] = 0;
  return kept + 1;
}

}  // namespace

uint32_t loadResourceText(void* instance, uint16_t id, uint16_t* output, uint32_t capacity) {
  if (capacity == 0) return 0;
  int32_t useAnsi = g_useAnsi.load(std::memory_order_relaxed);
  if (useAnsi < 0) useAnsi = detectAnsiPlatform();
  if (useAnsi != kAnsiWide) return loadAnsi(instance, id, output, capacity);
  const int units = g_resourceCalls.loadStringW(instance, id, output, static_cast<int>(capacity));
  if (units <= 0) {
    output[0] = 0;
    return 0;
  }
  return static_cast<uint32_t>(units);
}

uint32_t loadMessage(uint16_t* output, uint16_t id) {
  return loadResourceText(platform::moduleInstance(), id, output, kMessageCapacity);
}

}  // namespace zp
