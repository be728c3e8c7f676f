// Fault injection counters; see fault.h.
#include "platform/fault.h"

#include <atomic>
#include <cstddef>

namespace zp {
namespace fault {
namespace {

struct PointState {
  std::atomic<uint32_t> calls;
  std::atomic<uint32_t> failAt;  // 0: disarmed
  std::atomic<bool> persistent;
};

// Zero at load, like every process-wide record of the module.
PointState g_points[static_cast<int>(Point::kCount)];
std::atomic<bool> g_anyArmed;

PointState& stateOf(Point point) { return g_points[static_cast<int>(point)]; }

}  // namespace

void arm(Point point, uint32_t nth, bool persistent) {
  PointState& state = stateOf(point);
  state.calls.store(0);
  state.persistent.store(persistent);
  state.failAt.store(nth);
  if (nth != 0) g_anyArmed.store(true);
}

void disarmAll() {
  for (PointState& state : g_points) state.failAt.store(0);
  g_anyArmed.store(false);
}

const char* pointName(Point point) {
  // In the enum's order; a point added to the enum needs its name here.
  static const char* const kNames[] = {"allocation",       "library load",    "thread create",
                                       "semaphore create", "semaphore wait",  "library symbol",
                                       "file open",        "file write",      "time query",
                                       "environment get",  "environment set", "thread join"};
  static_assert(sizeof kNames / sizeof kNames[0] == static_cast<size_t>(Point::kCount),
                "one name for every failure point");
  const int index = static_cast<int>(point);
  return index >= 0 && index < static_cast<int>(Point::kCount) ? kNames[index] : "?";
}

uint32_t calls(Point point) { return stateOf(point).calls.load(); }

void resetCalls(Point point) { stateOf(point).calls.store(0); }

bool shouldFail(Point point) {
  PointState& state = stateOf(point);
  const uint32_t call = state.calls.fetch_add(1, std::memory_order_relaxed) + 1;
  if (!g_anyArmed.load(std::memory_order_relaxed)) return false;
  const uint32_t failAt = state.failAt.load();
  if (failAt == 0) return false;
  return call == failAt || (state.persistent.load() && call > failAt);
}

}  // namespace fault
}  // namespace zp
