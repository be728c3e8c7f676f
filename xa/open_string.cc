// Open-string filtering, DB-name rewriting and TraceOptions.
#include "xa/open_string.h"

#include <atomic>
#include <cstring>

#include "platform/alloc.h"
#include "platform/platform.h"
#include "support/bytes.h"
#include "support/perthred.h"
#include "support/strcase.h"
#include "zpor8dtc23/xa.h"

namespace zp {

#if UINTPTR_MAX > 0xFFFFFFFFu
// A 64-bit process cannot load a 32-bit trace library.
const char kTraceDllKeyword[] = "TraceDll64";
#else
const char kTraceDllKeyword[] = "TraceDll32";
#endif

namespace {

// ---------------------------------------------------------------------------
// TraceOptions

// A stored trace name. Nodes are never freed: a reader may hold a name while
// another thread's parse replaces it.
struct NameNode {
  NameNode* next;
  char text[1];
};

struct TraceOptions {
  std::atomic<int32_t> level;
  std::atomic<const char*> traceDllName;
  std::atomic<const char*> traceFileName;
  std::atomic<NameNode*> names;  // every name ever stored
};
TraceOptions g_traceOptions;  // zero and null at load

// The stored string equal to value (length bytes), made when new. Null when
// storage cannot be had (reported; the caller keeps the earlier value).
const char* intern_name(const char* value, uint32_t length) {
  for (NameNode* node = g_traceOptions.names.load(std::memory_order_acquire); node != nullptr;
       node = node->next) {
    if (std::strncmp(node->text, value, length) == 0 && node->text[length] == '\0')
      return node->text;
  }
  auto* node = static_cast<NameNode*>(allocate(sizeof(NameNode) + length));
  if (node == nullptr) {
    reportOutOfMemory();
    return nullptr;
  }
  copyCounted(node->text, value, length);
  node->next = g_traceOptions.names.load(std::memory_order_relaxed);
  while (!g_traceOptions.names.compare_exchange_weak(node->next, node, std::memory_order_release,
                                                     std::memory_order_relaxed)) {
  }
  return node->text;
}

void store_name(std::atomic<const char*>& field, const char* value, uint32_t length) {
  const char* stored = intern_name(value, length);
  if (stored != nullptr) field.store(stored, std::memory_order_release);
}

// ---------------------------------------------------------------------------
// Filtering

enum class Action { kCopy, kLevel, kDllName, kFileName };

struct Keyword {
  const char* name;  // without its '+'
  Action action;
};

// Tried in this order among those that share the first letter.
const Keyword kKeywords[] = {
    {"ACC", Action::kCopy},
    {"DB", Action::kCopy},
    {"SesTM", Action::kCopy},
    {"SqlNet", Action::kCopy},
    {"Threads", Action::kCopy},
    {"Trace", Action::kLevel},
    {kTraceDllKeyword, Action::kDllName},
    {"TraceFile", Action::kFileName},
};

const Keyword* match_keyword(const char* keyword, uint32_t length) {
  if (length == 0) return nullptr;
  const unsigned char first = platform::codePageUpperByte(static_cast<unsigned char>(keyword[0]));
  for (const Keyword& candidate : kKeywords) {
    if (static_cast<unsigned char>(candidate.name[0]) != first) continue;
    if (compareCountedNoCase(keyword, length, candidate.name, byteLength(candidate.name)) == 0) {
      return &candidate;
    }
  }
  return nullptr;
}

// Appends bytes to a bounded output, keeping it terminated.
struct Output {
  char* buffer;
  uint32_t capacity;
  uint32_t used;
  bool overflow;

  void append(const char* bytes, uint32_t count) {
    if (overflow || used + count + 1 > capacity) {
      overflow = true;
      return;
    }
    std::memcpy(buffer + used, bytes, count);
    used += count;
    buffer[used] = '\0';
  }
};

const char* next_plus(const char* from) { return std::strchr(from, '+'); }

}  // namespace

int32_t trace_options_level() { return g_traceOptions.level.load(std::memory_order_relaxed); }

const char* trace_options_dll_name() {
  return g_traceOptions.traceDllName.load(std::memory_order_acquire);
}

const char* trace_options_file_name() {
  return g_traceOptions.traceFileName.load(std::memory_order_acquire);
}

int32_t parse_open_options(const char* source, uint32_t, char* output, uint32_t capacity) {
  static const char kPrefix[] = "ORACLE_XA";
  constexpr uint32_t kPrefixLength = sizeof kPrefix - 1;
  if (capacity == 0) return kOpenStringTooLong;
  output[0] = '\0';
  uint32_t headLength = 0;
  while (headLength < kPrefixLength && source[headLength] != '\0') ++headLength;
  if (compareCountedNoCase(source, headLength, kPrefix, kPrefixLength) != 0) return XAER_RMERR;

  Output out{output, capacity, 0, false};
  out.append(source, kPrefixLength);
  const char* at = source;  // the prefix holds no '+'
  while ((at = next_plus(at)) != nullptr) {
    const char* keyword = at + 1;
    const char* equals = std::strchr(keyword, '=');
    const uint32_t keywordLength =
        equals != nullptr ? static_cast<uint32_t>(equals - keyword) : byteLength(keyword);
    const Keyword* match = match_keyword(keyword, keywordLength);
    if (match == nullptr) {
      at = next_plus(at + 1);  // dropped, with everything up to the next option
      if (at == nullptr) break;
      continue;
    }
    if (match->action == Action::kCopy) {
      const char* end = next_plus(keyword);
      const uint32_t length =
          end != nullptr ? static_cast<uint32_t>(end - keyword) : byteLength(keyword);
      out.append("+", 1);
      out.append(keyword, length);
      if (end == nullptr) break;
      at = end;
      continue;
    }
    if (equals == nullptr) break;  // a trace keyword that ends the string: no value
    const char* value = equals + 1;
    if (match->action == Action::kLevel) {
      g_traceOptions.level.store(*value == '1'   ? 1
                                 : *value == '2' ? 2
                                                 : 0,
                                 std::memory_order_relaxed);
      at = next_plus(keyword);
      if (at == nullptr) break;
      continue;
    }
    const char* end = value;
    while (*end != '\0' && *end != ' ' && *end != '+') ++end;
    store_name(match->action == Action::kDllName ? g_traceOptions.traceDllName
                                                 : g_traceOptions.traceFileName,
               value, static_cast<uint32_t>(end - value));
    at = end;  // passes over the rest of the value up to the next option
  }
  if (out.overflow) {
    output[0] = '\0';
    return kOpenStringTooLong;
  }
  return kOpenStringDone;
}

int32_t rewrite_db_name(const char* xaInfo, char* output, uint32_t capacity) {
  char processDigits[32];
  char threadDigits[32];
  const uint32_t processLength = formatDecimal64(processDigits, platform::currentProcessId());
  const uint32_t threadLength = formatDecimal64(threadDigits, platform::currentThreadId());
  if (capacity == 0) return kOpenStringTooLong;
  output[0] = '\0';

  Output out{output, capacity, 0, false};
  const char* db = findSubstringNoCase(xaInfo, "+DB=");
  const char* rest = nullptr;
  if (db != nullptr) {
    const char* valueEnd = db + 4;
    while (*valueEnd != '\0' && *valueEnd != '+') ++valueEnd;
    out.append(xaInfo, static_cast<uint32_t>(valueEnd - xaInfo));
    if (*valueEnd == '+') rest = valueEnd;
  } else {
    out.append(xaInfo, byteLength(xaInfo));
    out.append("+DB=", 4);
  }
  out.append(processDigits, processLength);
  out.append(threadDigits, threadLength);
  if (rest != nullptr) out.append(rest, byteLength(rest));
  if (out.overflow) {
    output[0] = '\0';
    return kOpenStringTooLong;
  }
  return kOpenStringDone;
}

}  // namespace zp
