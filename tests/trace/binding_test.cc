// Binding the trace library: which libraries are accepted, what is called in
// them and in which order, and that names too long for a path buffer are
// refused before anything is loaded.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "journal_lines.h"
#include "platform/fault.h"
#include "trace/trace_binding.h"
#include "trace/trace_records.h"

namespace zp {
namespace {

using Lines = std::vector<std::string>;

bool bound() { return g_traceContext.library.load() != nullptr; }

// A fresh journal with the given settings, and no binding.
void resetAll(int32_t version = 1000, int32_t openResult = 0) {
  trace_unbind(&g_traceContext);
  g_traceContext.enabled.store(0);
  zp_journal_reset();
  zp_journal_configure(version, openResult);
  fault::disarmAll();
  fault::resetCalls(fault::Point::kLibraryLoad);
}

void startTracing(const char* file, const char* library) {
  g_traceContext.enabled.store(1);
  trace_start(&g_traceContext, kTraceLevelOn, file,
              file == nullptr ? 0 : static_cast<uint32_t>(std::string(file).size()), library,
              library == nullptr ? 0 : static_cast<uint32_t>(std::string(library).size()), "");
}

const std::string kLoad = std::string("load ") + "zptracestub";
const std::string kUnload = std::string("unload ") + "zptracestub";

TEST(TraceBinding, VersionFloorIsThousand) {
  struct Row {
    const char* name;
    int32_t version;
    bool accepted;
  } rows[] = {
      {"999", 999, false},
      {"1000", 1000, true},
      {"1001", 1001, true},
      {"negative", -1000, false},
  };
  for (const Row& row : rows) {
    resetAll(row.version);
    EXPECT_EQ(trace_bind(&g_traceContext, "trace.log", test::kTraceStub),
              row.accepted ? kTraceOk : kTraceFailed)
        << row.name;
    EXPECT_EQ(bound(), row.accepted) << row.name;
    trace_unbind(&g_traceContext);
    const Lines accepted = {kLoad, "TraceVersion", "TraceOpenLogFile \"trace.log\" 1000",
                            "TraceCloseLogFile", kUnload};
    // A refused library is unloaded without its log being opened or closed.
    const Lines refused = {kLoad, "TraceVersion", kUnload};
    EXPECT_EQ(test::journalLines(), row.accepted ? accepted : refused) << row.name;
  }
}

TEST(TraceBinding, OnlyLowSixteenBitsOfOpenResultCount) {
  struct Row {
    const char* name;
    int32_t result;
    bool accepted;
  } rows[] = {
      {"zero", 0, true},
      {"high bits only", 0x10000, true},
      {"all high bits", static_cast<int32_t>(0xffff0000u), true},
      {"one", 1, false},
      {"one with high bits", 0x10001, false},
      {"minus one", -1, false},
  };
  for (const Row& row : rows) {
    resetAll(1000, row.result);
    EXPECT_EQ(trace_bind(&g_traceContext, "trace.log", test::kTraceStub),
              row.accepted ? kTraceOk : kTraceFailed)
        << row.name;
    EXPECT_EQ(bound(), row.accepted) << row.name;
    const Lines lifecycle = test::journalLinesStartingWith({"load", "unload", "TraceCloseLogFile"});
    // A refused log is not closed; the library is unloaded at once.
    EXPECT_EQ(lifecycle, row.accepted ? (Lines{kLoad}) : (Lines{kLoad, kUnload})) << row.name;
  }
}

TEST(TraceBinding, OptionalExportsDecideInitialisationAndRecords) {
  struct Row {
    const char* name;
    const char* library;
    Lines expected;  // after the load lines, for a start and one of each record
  } rows[] = {
      {"all exports",
       test::kTraceStub,
       {"mvSetTraceLevel 0", "mvTraceInit 0 \"\"", "entry f: e 1", "exit f: x 2", "data f: d 3"}},
      {"no mvTraceInit: no level call either",
       test::kTraceStubNoInit,
       {"entry f: e 1", "exit f: x 2", "data f: d 3"}},
      {"no mvSetTraceLevel: init still called",
       test::kTraceStubNoLevel,
       {"mvTraceInit 0 \"\"", "entry f: e 1", "exit f: x 2", "data f: d 3"}},
      {"no record exports: binds, records dropped",
       test::kTraceStubNoRecords,
       {"mvSetTraceLevel 0", "mvTraceInit 0 \"\""}},
  };
  for (const Row& row : rows) {
    resetAll();
    startTracing("trace.log", row.library);
    EXPECT_TRUE(bound()) << row.name;
    EXPECT_EQ(g_traceContext.enabled.load(), 1) << row.name;
    trace_entry(&g_traceContext, "f", "e %d", 1);
    trace_exit(&g_traceContext, "f", "x %d", 2);
    trace_data(&g_traceContext, "f", "d %d", 3);
    EXPECT_EQ(test::journalLinesStartingWith({"mv", "entry", "exit", "data"}), row.expected)
        << row.name;
  }
}

TEST(TraceBinding, MissingRequiredExportRefusesLibrary) {
  resetAll();
  startTracing("trace.log", test::kTraceStubNoVersion);
  EXPECT_FALSE(bound());
  EXPECT_EQ(g_traceContext.enabled.load(), 0);
  // The validated rebind and the fallback bind each load and unload it once.
  const Lines once = {"load zptracestub_noversion", "unload zptracestub_noversion"};
  Lines twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(test::journalLines(), twice) << test::journalText();
}

TEST(TraceBinding, LibraryNameTooLongForPathBufferIsNeverLoaded) {
  const std::string n259(259, 'n');
  const std::string n260(260, 'n');
  const std::string n1000(1000, 'n');
  struct Row {
    const char* name;
    const std::string& library;
    uint32_t loadsOnStart;  // library loads attempted by one start
  } rows[] = {
      {"259 characters", n259, 2},
      {"260 characters", n260, 0},
      {"1000 characters", n1000, 0},
  };
  for (const Row& row : rows) {
    resetAll();
    EXPECT_EQ(trace_bind(&g_traceContext, "trace.log", row.library.c_str()), kTraceFailed)
        << row.name;
    EXPECT_EQ(fault::calls(fault::Point::kLibraryLoad), row.loadsOnStart / 2) << row.name;
    fault::resetCalls(fault::Point::kLibraryLoad);
    startTracing("trace.log", row.library.c_str());
    EXPECT_EQ(fault::calls(fault::Point::kLibraryLoad), row.loadsOnStart) << row.name;
    EXPECT_FALSE(bound()) << row.name;
    EXPECT_EQ(g_traceContext.enabled.load(), 0) << row.name;
  }
}

TEST(TraceBinding, RebindCutsNamesAtTheirLengths) {
  resetAll();
  const std::string library = std::string(test::kTraceStub) + "-not-part-of-it";
  g_traceContext.enabled.store(0);
  EXPECT_EQ(trace_rebind(&g_traceContext, kTraceLevelOn, "cut.log-rest", 7, library.c_str(),
                         static_cast<uint32_t>(std::string(test::kTraceStub).size())),
            kTraceOk);
  EXPECT_TRUE(bound());
  EXPECT_EQ(g_traceContext.enabled.load(), 1);
  EXPECT_EQ(test::journalLinesStartingWith({"TraceOpenLogFile"}),
            Lines{"TraceOpenLogFile \"cut.log\" 1000"});
}

TEST(TraceBinding, FileNameLengthDecidesBetweenRebindAndFallback) {
  const std::string f260(260, 'f');
  const std::string f261(261, 'f');
  struct Row {
    const char* name;
    const std::string& file;
  } rows[] = {{"260 characters", f260}, {"261 characters", f261}};
  for (const Row& row : rows) {
    resetAll();
    startTracing(row.file.c_str(), test::kTraceStub);
    EXPECT_TRUE(bound()) << row.name;
    // Either way the library sees the whole name, loaded once.
    EXPECT_EQ(test::journalLinesStartingWith({"TraceOpenLogFile", "load"}),
              (Lines{kLoad, "TraceOpenLogFile \"" + row.file + "\" 1000"}))
        << row.name;
  }
}

TEST(TraceBinding, RebindKeepsBindingWhenRefused) {
  resetAll();
  startTracing("first.log", test::kTraceStub);
  ASSERT_TRUE(bound());
  TraceLibrary* first = g_traceContext.library.load();
  // No file name: the validated rebind is refused and the binding stays.
  EXPECT_EQ(trace_rebind(&g_traceContext, kTraceLevelOn, nullptr, 0, test::kTraceStub,
                         static_cast<uint32_t>(std::string(test::kTraceStub).size())),
            kTraceOk);
  EXPECT_EQ(g_traceContext.library.load(), first);
  EXPECT_EQ(trace_rebind(nullptr, kTraceLevelOn, "x.log", 5, "y", 1), kTraceFailed);
  // Binding while bound changes nothing.
  EXPECT_EQ(trace_bind(&g_traceContext, "second.log", test::kTraceStub), kTraceFailed);
  EXPECT_EQ(g_traceContext.library.load(), first);
  EXPECT_EQ(test::journalLinesStartingWith({"load", "unload"}), Lines{kLoad});
}

TEST(TraceBinding, FailuresLeaveTracingOff) {
  struct Row {
    const char* name;
    fault::Point point;
    uint32_t loads;  // library loads attempted
  } rows[] = {
      {"record allocation", fault::Point::kAllocation, 0},
      {"library load", fault::Point::kLibraryLoad, 2},
  };
  for (const Row& row : rows) {
    resetAll();
    fault::arm(row.point, 1, true);
    startTracing("trace.log", test::kTraceStub);
    fault::disarmAll();
    EXPECT_FALSE(bound()) << row.name;
    EXPECT_EQ(g_traceContext.enabled.load(), 0) << row.name;
    EXPECT_EQ(fault::calls(fault::Point::kLibraryLoad), row.loads) << row.name;
    EXPECT_EQ(test::journalLines(), Lines{}) << row.name;
  }
}

}  // namespace
}  // namespace zp
