// Record writers, the XID dump and the masking of passwords in open strings.
#include "trace/trace_records.h"

#include <cstdarg>
#include <cstring>

#include "support/alloc.h"
#include "support/perthred.h"

namespace zp {

namespace {

// Hexadecimal fields of the XID records are at least four digits wide.
constexpr int kXidHexWidth = 4;
// Each data byte shows as two hexadecimal digits and a space.
constexpr size_t kHexCharsPerByte = 3;
constexpr char kPasswordMask[] = "****";
constexpr size_t kPasswordMaskLength = sizeof(kPasswordMask) - 1;

using RecordSlot = TraceRecordFn TraceLibrary::*;

void write_record(TraceContext* context, RecordSlot slot, const char* function, const char* format,
                  va_list args) {
  if (context == nullptr) return;
  TraceUse use(context);
  TraceLibrary* library = use.library();
  if (library == nullptr || library->*slot == nullptr) return;
  (library->*slot)(function, format, args);
}

// The length the XID claims, cut to [0, room].
size_t clamp_length(long length, size_t room) {
  if (length <= 0) return 0;
  return static_cast<unsigned long>(length) > room ? room : static_cast<size_t>(length);
}

void format_hex_bytes(char* text, const char* bytes, size_t count) {
  static const char kDigits[] = "0123456789abcdef";
  for (size_t i = 0; i < count; ++i) {
    const unsigned char byte = static_cast<unsigned char>(bytes[i]);
    text[i * kHexCharsPerByte] = kDigits[byte >> 4];
    text[i * kHexCharsPerByte + 1] = kDigits[byte & 0xf];
    text[i * kHexCharsPerByte + 2] = ' ';
  }
  text[count * kHexCharsPerByte] = '\0';
}

void trace_xid_length(TraceContext* context, const char* function, const char* format, long value) {
  const int32_t narrow = static_cast<int32_t>(value);
  trace_data(context, function, format, kXidHexWidth, static_cast<uint32_t>(narrow), narrow);
}

bool is_account_keyword(const char* at) {
  static const char kKeyword[] = "+acc=";
  for (size_t i = 0; i + 1 < sizeof(kKeyword); ++i) {
    char c = at[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kKeyword[i]) return false;
  }
  return true;
}

// The password of the next "+Acc=" value at or after from: [*begin, *end).
// False when no further value has a password.
bool find_password(const char* from, const char** begin, const char** end) {
  for (const char* at = std::strchr(from, '+'); at != nullptr; at = std::strchr(at + 1, '+')) {
    if (!is_account_keyword(at)) continue;
    const char* value = at + 5;
    const char* valueEnd = value + std::strcspn(value, "+");
    const char* first = static_cast<const char*>(std::memchr(value, '/', valueEnd - value));
    if (first == nullptr) continue;
    const char* second =
        static_cast<const char*>(std::memchr(first + 1, '/', valueEnd - first - 1));
    if (second == nullptr) continue;
    *begin = second + 1;
    *end = valueEnd;
    return true;
  }
  return false;
}

}  // namespace

void trace_entry(TraceContext* context, const char* function, const char* format, ...) {
  va_list args;
  va_start(args, format);
  write_record(context, &TraceLibrary::traceEntry, function, format, args);
  va_end(args);
}

void trace_exit(TraceContext* context, const char* function, const char* format, ...) {
  va_list args;
  va_start(args, format);
  write_record(context, &TraceLibrary::traceExit, function, format, args);
  va_end(args);
}

void trace_data(TraceContext* context, const char* function, const char* format, ...) {
  va_list args;
  va_start(args, format);
  write_record(context, &TraceLibrary::traceData, function, format, args);
  va_end(args);
}

int32_t trace_xid(TraceContext* context, const char* function, const XID* xid) {
  if (context == nullptr || context->enabled.load(std::memory_order_relaxed) == 0) {
    return kTraceFailed;
  }
  if (xid == nullptr) {
    trace_data(context, function, "xid: NULL");
    return kTraceOk;
  }
  trace_xid_length(context, function, "xid->formatID: 0x%0*x (%d)", xid->formatID);
  trace_xid_length(context, function, "xid->gtrid_length: 0x%0*x (%d)", xid->gtrid_length);
  // The texts show only bytes the record holds, however wrong its lengths.
  const size_t gtrid = clamp_length(xid->gtrid_length, XIDDATASIZE);
  const size_t bqual = clamp_length(xid->bqual_length, XIDDATASIZE - gtrid);
  auto* text = static_cast<char*>(allocateZeroed((gtrid + bqual) * kHexCharsPerByte + 1));
  if (text != nullptr) {
    format_hex_bytes(text, xid->data, gtrid);
    trace_data(context, function, "xid->gtrid: %s", text);
  }
  trace_xid_length(context, function, "xid->bqual_length: 0x%0*x (%d)", xid->bqual_length);
  if (text != nullptr) {
    std::memset(text, 0, (gtrid + bqual) * kHexCharsPerByte + 1);
    format_hex_bytes(text, xid->data + gtrid, bqual);
    trace_data(context, function, "xid->bqual: %s", text);
    release(text);
  }
  return kTraceOk;
}

MaskedOpenString::MaskedOpenString(const char* source) {
  if (source == nullptr) source = "";
  text_ = source;
  const char* begin = nullptr;
  const char* end = nullptr;
  size_t length = std::strlen(source);
  bool hidden = false;
  for (const char* from = source; find_password(from, &begin, &end); from = end) {
    length = length - static_cast<size_t>(end - begin) + kPasswordMaskLength;
    hidden = true;
  }
  if (!hidden) return;
  copy_ = static_cast<char*>(allocate(length + 1));
  if (copy_ == nullptr) {
    reportOutOfMemory();
    text_ = nullptr;
    return;
  }
  char* out = copy_;
  const char* from = source;
  while (find_password(from, &begin, &end)) {
    std::memcpy(out, from, static_cast<size_t>(begin - from));
    out += begin - from;
    std::memcpy(out, kPasswordMask, kPasswordMaskLength);
    out += kPasswordMaskLength;
    from = end;
  }
  std::strcpy(out, from);
  text_ = copy_;
}

MaskedOpenString::~MaskedOpenString() { release(copy_); }

}  // namespace zp
