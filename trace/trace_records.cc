// Record writers, the XID dump and open strings as records show them.
#include "trace/trace_records.h"

#include <cstdarg>
#include <cstring>

#include "platform/alloc.h"
#include "support/open_mask.h"
#include "support/perthred.h"

namespace zp {

namespace {

// Hexadecimal fields of the XID records are at least four digits wide.
constexpr int kXidHexWidth = 4;
// Each data byte shows as two hexadecimal digits and a space.
constexpr size_t kHexCharsPerByte = 3;
// An open string whose masked form fits this many bytes is masked on the
// stack first, so that one with nothing to hide is used without a copy.
constexpr size_t kMaskProbeSize = 256;

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
  const size_t length = std::strlen(source);
  char probe[kMaskProbeSize];
  const size_t masked = mask_open_string(source, length, probe, sizeof probe);
  if (masked == length && masked < sizeof probe && std::memcmp(probe, source, length) == 0) return;
  copy_ = static_cast<char*>(allocate(masked + 1));
  if (copy_ == nullptr) {
    reportOutOfMemory();
    text_ = nullptr;
    return;
  }
  mask_open_string(source, length, copy_, masked + 1);
  text_ = copy_;
}

MaskedOpenString::~MaskedOpenString() { release(copy_); }

}  // namespace zp
