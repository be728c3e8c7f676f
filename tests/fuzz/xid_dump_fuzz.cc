// The XID dump for any XID, lengths out of range included: exactly the five
// records in their order (one for a null XID, none with tracing off, the
// three numeric ones when the text buffer cannot be had), each number shown
// as at least four lower-case hex digits and its signed decimal value, and
// byte texts that cover only the 128 data bytes, gtrid first, bqual after it.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "module/libmain.h"
#include "platform/fault.h"
#include "trace/trace_binding.h"
#include "trace/trace_records.h"

namespace {

const char kFunction[] = "or8_mq_xa_start";

struct Record {
  std::string function;
  std::string text;
};
std::vector<Record> g_records;

void collectData(const char* function, const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  std::vsnprintf(&text[0], text.size() + 1, format, args);
  g_records.push_back({function, text});
}

zp::TraceLibrary g_library;  // only mvTraceData is needed

// "0x" and at least four lower-case hex digits, then " (" and the signed
// decimal form of the same 32-bit value, then ")".
bool isNumberText(const std::string& text, long field) {
  const int32_t value = static_cast<int32_t>(field);
  char expected[64];
  std::snprintf(expected, sizeof expected, "0x%04x (%d)", static_cast<uint32_t>(value), value);
  return text == expected;
}

std::string hexText(const char* bytes, size_t count) {
  std::string text;
  char pair[4];
  for (size_t i = 0; i < count; ++i) {
    std::snprintf(pair, sizeof pair, "%02x ", static_cast<unsigned char>(bytes[i]));
    text += pair;
  }
  return text;
}

size_t clampLength(long length, size_t room) {
  if (length <= 0) return 0;
  return static_cast<unsigned long>(length) > room ? room : static_cast<size_t>(length);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (!zp::moduleLoad(nullptr)) std::abort();
  g_library.traceData = collectData;
  return 0;
}

// The first byte chooses the case (bit 0: null XID, bit 1: tracing off,
// bit 2: the text buffer cannot be had); the rest is the XID record.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const uint8_t mode = size > 0 ? data[0] : 0;
  XID xid;
  std::memset(&xid, 0, sizeof xid);
  if (size > 1) std::memcpy(&xid, data + 1, size - 1 < sizeof xid ? size - 1 : sizeof xid);

  zp::TraceContext context{};
  context.library.store(&g_library);
  context.enabled.store((mode & 2) != 0 ? 0 : 1);
  g_records.clear();
  if ((mode & 4) != 0) zp::fault::arm(zp::fault::Point::kAllocation, 1, true);
  const int32_t result = zp::trace_xid(&context, kFunction, (mode & 1) != 0 ? nullptr : &xid);
  zp::fault::disarmAll();

  for (const Record& record : g_records) FUZZ_CHECK(record.function == kFunction, input);
  if ((mode & 2) != 0) {
    FUZZ_CHECK(result == zp::kTraceFailed && g_records.empty(), input);
    return 0;
  }
  FUZZ_CHECK(result == zp::kTraceOk, input);
  if ((mode & 1) != 0) {
    FUZZ_CHECK(g_records.size() == 1 && g_records[0].text == "xid: NULL", input);
    return 0;
  }

  const bool texts = (mode & 4) == 0;
  FUZZ_CHECK(g_records.size() == (texts ? 5u : 3u), input);
  size_t at = 0;
  auto next = [&](const char* label) {
    const std::string& text = g_records[at++].text;
    FUZZ_CHECK(text.compare(0, std::strlen(label), label) == 0, input);
    return text.substr(std::strlen(label));
  };
  FUZZ_CHECK(isNumberText(next("xid->formatID: "), xid.formatID), input);
  FUZZ_CHECK(isNumberText(next("xid->gtrid_length: "), xid.gtrid_length), input);
  const size_t gtrid = clampLength(xid.gtrid_length, XIDDATASIZE);
  const size_t bqual = clampLength(xid.bqual_length, XIDDATASIZE - gtrid);
  if (texts) FUZZ_CHECK(next("xid->gtrid: ") == hexText(xid.data, gtrid), input);
  FUZZ_CHECK(isNumberText(next("xid->bqual_length: "), xid.bqual_length), input);
  if (texts) FUZZ_CHECK(next("xid->bqual: ") == hexText(xid.data + gtrid, bqual), input);
  return 0;
}
