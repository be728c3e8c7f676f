// The trace records: entry, exit and data records handed unformatted to the
// bound trace library, the dump of an XID as five data records, and the form
// in which an open or close string may appear in a record.
#ifndef ZP_TRACE_TRACE_RECORDS_H
#define ZP_TRACE_TRACE_RECORDS_H

#include <cstdint>

#include "trace/trace_binding.h"
#include "zpor8dtc23/xa.h"

namespace zp {

// Hand function, format and the values that follow to the library's
// mvTraceEntry, mvTraceExit or mvTraceData as one argument list. Nothing is
// formatted or copied; without a context, a bound library or the export the
// record is dropped. They do not test context->enabled (the callers do). Every
// value for a %d or %x conversion must be a 32-bit int or unsigned.
void trace_entry(TraceContext* context, const char* function, const char* format, ...);
void trace_exit(TraceContext* context, const char* function, const char* format, ...);
void trace_data(TraceContext* context, const char* function, const char* format, ...);

// Writes xid as data records under function: "xid: NULL" for a null xid, else
// its formatID, gtrid_length, the gtrid bytes in hexadecimal, bqual_length and
// the bqual bytes. The byte texts cover only what the 128 data bytes hold: a
// negative length counts as 0 and the two lengths are cut to fit. When the
// text buffer cannot be had, the three numeric records are still written.
// Returns 1 without a context or with tracing disabled (nothing written), 0
// otherwise.
int32_t trace_xid(TraceContext* context, const char* function, const XID* xid);

// An open or close string as a record may show it: masked by
// mask_open_string (support/open_mask.h), so no account password appears; a
// null string shows as an empty one. A short string with nothing to hide is
// used as it stands; otherwise a masked copy is made, and when that copy
// cannot be had text() is null and the record must be left out.
class MaskedOpenString {
 public:
  explicit MaskedOpenString(const char* source);
  ~MaskedOpenString();
  MaskedOpenString(const MaskedOpenString&) = delete;
  MaskedOpenString& operator=(const MaskedOpenString&) = delete;

  const char* text() const { return text_; }

 private:
  const char* text_ = nullptr;
  char* copy_ = nullptr;
};

}  // namespace zp

#endif  // ZP_TRACE_TRACE_RECORDS_H
