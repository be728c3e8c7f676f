// Open-string filtering, the trace options it takes out, and DB-name
// rewriting. Each case runs in a process of its own: TraceOptions is
// process-wide and never reset.
#include <gtest/gtest.h>

#include <string>

#include "platform/fault.h"
#include "platform/platform.h"
#include "xa/open_string.h"
#include "zpor8dtc23/xa.h"

namespace zp {
namespace {

struct Filtered {
  int32_t result;
  std::string output;
};

Filtered filter(const std::string& source, uint32_t capacity = 256) {
  std::string buffer(capacity, '\0');
  const int32_t result = parse_open_options(source.c_str(), static_cast<uint32_t>(source.size()),
                                            &buffer[0], capacity);
  return {result, buffer.c_str()};
}

const std::string kDll = std::string("+") + kTraceDllKeyword;

TEST(OpenString, FiltersOptions) {
  struct Row {
    const char* name;
    std::string source;
    int32_t result;
    std::string expected;
  } rows[] = {
      {"prefix alone", "ORACLE_XA", 0, "ORACLE_XA"},
      {"lower-case prefix kept as written", "oracle_xa+Acc=P/u/p", 0, "oracle_xa+Acc=P/u/p"},
      {"missing prefix", "ORACLE+Acc=P/u/p", XAER_RMERR, ""},
      {"short source", "ORA", XAER_RMERR, ""},
      {"empty source", "", XAER_RMERR, ""},
      {"copied options in order, case as written",
       "Oracle_XA+Acc=P/scott/tiger+SesTm=35+db=ORCL+SQLNET=net+threads=true", 0,
       "Oracle_XA+Acc=P/scott/tiger+SesTm=35+db=ORCL+SQLNET=net+threads=true"},
      {"spaces before the next option are copied", "ORACLE_XA+DB=ORCL  +SesTM=10", 0,
       "ORACLE_XA+DB=ORCL  +SesTM=10"},
      {"text before the first option dropped", "ORACLE_XA junk +DB=x", 0, "ORACLE_XA+DB=x"},
      {"unknown options dropped", "ORACLE_XA+Foo=1+DB=x+LogDir=/tmp+Bar", 0, "ORACLE_XA+DB=x"},
      {"trace options taken out", "ORACLE_XA+Trace=2+DB=x" + kDll + "=t.so+TraceFile=f.log+SesTM=5",
       0, "ORACLE_XA+DB=x+SesTM=5"},
      {"copy option twice copied twice", "ORACLE_XA+DB=a+DB=b", 0, "ORACLE_XA+DB=a+DB=b"},
      {"final copy keyword without value copied", "ORACLE_XA+DB=a+Threads", 0,
       "ORACLE_XA+DB=a+Threads"},
      {"keyword without value before more options dropped", "ORACLE_XA+Threads+DB=a", 0,
       "ORACLE_XA+DB=a"},
      {"trailing plus dropped", "ORACLE_XA+DB=a+", 0, "ORACLE_XA+DB=a"},
      {"single character option dropped", "ORACLE_XA+DB=a+x", 0, "ORACLE_XA+DB=a"},
      {"space before equals dropped", "ORACLE_XA+DB =a+SesTM=1", 0, "ORACLE_XA+SesTM=1"},
      {"other word size's library option dropped",
       std::string("ORACLE_XA+DB=a+") + (kDll == "+TraceDll64" ? "TraceDll32" : "TraceDll64") +
           "=x.so",
       0, "ORACLE_XA+DB=a"},
  };
  for (const Row& row : rows) {
    const Filtered got = filter(row.source);
    EXPECT_EQ(got.result, row.result) << row.name;
    EXPECT_EQ(got.output, row.expected) << row.name;
  }
}

TEST(OpenString, FilteredStringThatDoesNotFitIsRefusedWhole) {
  const std::string source = "ORACLE_XA+DB=" + std::string(300, 'd');
  const Filtered got = filter(source, 256);
  EXPECT_EQ(got.result, kOpenStringTooLong);
  EXPECT_EQ(got.output, "");
  // Exactly 255 characters still fit the 256-byte buffer.
  const std::string fits = "ORACLE_XA+DB=" + std::string(255 - 13, 'd');
  EXPECT_EQ(filter(fits, 256).output, fits);
}

TEST(OpenString, TraceLevelTakesOnlyTheFirstByte) {
  struct Row {
    const char* value;
    int32_t level;
  } rows[] = {{"1", 1}, {"2", 2}, {"25", 2}, {"3", 0}, {"", 0}, {"2", 2}, {"x", 0}};
  for (const Row& row : rows) {
    filter(std::string("ORACLE_XA+Trace=") + row.value + "+DB=a");
    EXPECT_EQ(trace_options_level(), row.level) << "value '" << row.value << "'";
  }
  filter("ORACLE_XA+Trace=2");
  filter("ORACLE_XA+DB=a");  // no trace option: the level stays
  EXPECT_EQ(trace_options_level(), 2);
  filter("ORACLE_XA+Trace");  // no value: the level stays
  EXPECT_EQ(trace_options_level(), 2);
  filter("NOT_ORACLE+Trace=1");  // refused: nothing taken
  EXPECT_EQ(trace_options_level(), 2);
}

TEST(OpenString, TraceNamesKeepTheLastValueUpToASpace) {
  EXPECT_EQ(trace_options_dll_name(), nullptr);
  EXPECT_EQ(trace_options_file_name(), nullptr);
  filter("ORACLE_XA" + kDll + "=first.so+TraceFile=my log.txt+DB=x");
  ASSERT_NE(trace_options_file_name(), nullptr);
  EXPECT_STREQ(trace_options_file_name(), "my");
  EXPECT_STREQ(trace_options_dll_name(), "first.so");
  const char* held = trace_options_dll_name();

  filter("ORACLE_XA" + kDll + "=a.so" + kDll + "=second.so+tracefile=");
  EXPECT_STREQ(trace_options_dll_name(), "second.so");
  EXPECT_STREQ(trace_options_file_name(), "");
  // A name handed out earlier stays valid and unchanged.
  EXPECT_STREQ(held, "first.so");

  filter("ORACLE_XA+DB=x");  // no trace option: the names stay
  EXPECT_STREQ(trace_options_dll_name(), "second.so");
  filter("ORACLE_XA+TraceFile");  // no value: the name stays
  EXPECT_STREQ(trace_options_file_name(), "");
}

TEST(OpenString, TraceNameWithoutStorageKeepsTheEarlierValue) {
  filter("ORACLE_XA+TraceFile=kept.log");
  fault::arm(fault::Point::kAllocation, 1, true);
  const Filtered got = filter("ORACLE_XA+TraceFile=lost.log+DB=x");
  fault::disarmAll();
  EXPECT_EQ(got.output, "ORACLE_XA+DB=x");
  EXPECT_STREQ(trace_options_file_name(), "kept.log");
}

std::string ids() {
  return std::to_string(platform::currentProcessId()) + std::to_string(platform::currentThreadId());
}

TEST(OpenString, DbNameGetsProcessAndThreadIds) {
  struct Row {
    const char* name;
    std::string source;
    std::string expected;
  } rows[] = {
      {"value in the middle", "ORACLE_XA+DB=ORCL+SesTM=5",
       "ORACLE_XA+DB=ORCL" + ids() + "+SesTM=5"},
      {"value at the end", "ORACLE_XA+SesTM=5+DB=ORCL", "ORACLE_XA+SesTM=5+DB=ORCL" + ids()},
      {"lower-case keyword", "ORACLE_XA+db=orcl+Threads=true",
       "ORACLE_XA+db=orcl" + ids() + "+Threads=true"},
      {"trailing spaces stay before the digits", "ORACLE_XA+DB=ORCL  +X=1",
       "ORACLE_XA+DB=ORCL  " + ids() + "+X=1"},
      {"first of two", "ORACLE_XA+DB=a+DB=b", "ORACLE_XA+DB=a" + ids() + "+DB=b"},
      {"no DB option", "ORACLE_XA+SesTM=5", "ORACLE_XA+SesTM=5+DB=" + ids()},
      {"empty string", "", "+DB=" + ids()},
  };
  for (const Row& row : rows) {
    char output[kOpenBufferSize];
    EXPECT_EQ(rewrite_db_name(row.source.c_str(), output, sizeof output), 0) << row.name;
    EXPECT_EQ(std::string(output), row.expected) << row.name;
  }
  const std::string longer(kOpenBufferSize, 'x');
  char output[kOpenBufferSize];
  EXPECT_EQ(rewrite_db_name(longer.c_str(), output, sizeof output), kOpenStringTooLong);
  EXPECT_STREQ(output, "");
}

}  // namespace
}  // namespace zp
