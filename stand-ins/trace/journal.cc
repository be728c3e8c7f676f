// The stand-ins' journal: lines under a spin lock (the Windows toolchain has
// no std::mutex), settings and the open state in atomics.
#define ZP_TRACE_JOURNAL_BUILDING
#include "journal.h"

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::atomic_flag g_lock = ATOMIC_FLAG_INIT;
std::vector<std::string>* g_lines;  // made on first use, never freed
std::atomic<int32_t> g_version{1000};
std::atomic<int32_t> g_openResult{0};
std::atomic<int32_t> g_keepRecords{1};
std::atomic<int32_t> g_open{0};
std::atomic<int32_t> g_inside{0};
std::atomic<int32_t> g_violations{0};
std::atomic<int32_t> g_recordCalls{0};
std::atomic<int32_t> g_tagRecords[ZP_JOURNAL_TAGS];
thread_local int32_t t_tag = -1;

bool valid_tag(int32_t tag) { return tag >= 0 && tag < ZP_JOURNAL_TAGS; }

class Locked {
 public:
  Locked() {
    while (g_lock.test_and_set(std::memory_order_acquire)) {
    }
    if (g_lines == nullptr) g_lines = new std::vector<std::string>();
  }
  ~Locked() { g_lock.clear(std::memory_order_release); }
};

}  // namespace

extern "C" {

void zp_journal_reset(void) {
  Locked locked;
  g_lines->clear();
  g_version = 1000;
  g_openResult = 0;
  g_keepRecords = 1;
  g_violations = 0;
  g_recordCalls = 0;
  for (std::atomic<int32_t>& count : g_tagRecords) count = 0;
}

void zp_journal_configure(int32_t version, int32_t openResult) {
  g_version = version;
  g_openResult = openResult;
}

void zp_journal_keep_records(int32_t keep) { g_keepRecords = keep; }

int32_t zp_journal_count(void) {
  Locked locked;
  return static_cast<int32_t>(g_lines->size());
}

int32_t zp_journal_line(int32_t index, char* buffer, int32_t size) {
  Locked locked;
  if (index < 0 || static_cast<size_t>(index) >= g_lines->size() || size < 1) return 0;
  const std::string& line = (*g_lines)[static_cast<size_t>(index)];
  const size_t n = line.size() < static_cast<size_t>(size - 1) ? line.size() : size - 1;
  std::memcpy(buffer, line.data(), n);
  buffer[n] = '\0';
  return 1;
}

int32_t zp_journal_violations(void) { return g_violations.load(); }
int32_t zp_journal_record_calls(void) { return g_recordCalls.load(); }

void zp_journal_tag_thread(int32_t tag) { t_tag = tag; }

int32_t zp_journal_tag_records(int32_t tag) {
  return valid_tag(tag) ? g_tagRecords[tag].load() : 0;
}

void zp_journal_append(const char* line) {
  Locked locked;
  g_lines->push_back(line);
}

int32_t zp_journal_version(void) { return g_version.load(); }
int32_t zp_journal_open_result(void) { return g_openResult.load(); }

void zp_journal_set_open(int32_t open) {
  if (!open && g_inside.load() != 0) g_violations.fetch_add(1);
  g_open = open;
}

int32_t zp_journal_call_begin(int32_t record) {
  g_inside.fetch_add(1);
  if (!g_open.load()) g_violations.fetch_add(1);
  if (!record) return 1;
  g_recordCalls.fetch_add(1);
  if (valid_tag(t_tag)) g_tagRecords[t_tag].fetch_add(1);
  return g_keepRecords.load();
}

void zp_journal_call_end(void) { g_inside.fetch_sub(1); }

}  // extern "C"
