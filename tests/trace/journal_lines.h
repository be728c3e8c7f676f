// Reading the trace stand-ins' journal back in tests, and the file names of
// the stand-in variants and the reference trace library on this target.
#ifndef ZP_TESTS_TRACE_JOURNAL_LINES_H
#define ZP_TESTS_TRACE_JOURNAL_LINES_H

#include <string>
#include <vector>

#include "journal.h"

namespace zp {
namespace test {

// File names the module loads the trace libraries by.
constexpr char kTraceStub[] = ZP_TRACE_STUB_FILE;
constexpr char kTraceStubNoInit[] = ZP_TRACE_STUB_NOINIT_FILE;
constexpr char kTraceStubNoLevel[] = ZP_TRACE_STUB_NOLEVEL_FILE;
constexpr char kTraceStubNoRecords[] = ZP_TRACE_STUB_NORECORDS_FILE;
constexpr char kTraceStubNoVersion[] = ZP_TRACE_STUB_NOVERSION_FILE;
constexpr char kReferenceTrace[] = ZP_REFERENCE_TRACE_FILE;

// Every line of the journal, in order.
std::vector<std::string> journalLines();
// The lines that begin with one of prefixes, in order.
std::vector<std::string> journalLinesStartingWith(const std::vector<std::string>& prefixes);
// The journal's lines joined by newlines, for failure messages.
std::string journalText();

}  // namespace test
}  // namespace zp

#endif  // ZP_TESTS_TRACE_JOURNAL_LINES_H
