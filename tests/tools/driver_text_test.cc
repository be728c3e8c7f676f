// The driver's reading and writing of text: passwords hidden in what it
// prints, the DB name it asks the client for, result and flag names both
// ways, and script lines.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "tools/xadriver/advice.h"
#include "tools/xadriver/open_text.h"
#include "tools/xadriver/recover.h"
#include "tools/xadriver/script.h"
#include "tools/xadriver/xa_names.h"
#include "zpor8dtc23/xa.h"

namespace zp {
namespace xadriver {
namespace {

TEST(DriverText, PasswordsNeverShow) {
  const struct {
    const char* text;
    const char* shown;
  } rows[] = {
      {"ORACLE_XA+Acc=P/scott/tiger+DB=x", "ORACLE_XA+Acc=P/scott/****+DB=x"},
      {"ORACLE_XA+acc=p/scott/tiger", "ORACLE_XA+acc=p/scott/****"},
      {"ORACLE_XA+ACC=P/u/pw/with/slashes+SqlNet=s", "ORACLE_XA+ACC=P/u/****+SqlNet=s"},
      {"ORACLE_XA+Acc=P/u/", "ORACLE_XA+Acc=P/u/****"},
      {"ORACLE_XA+Acc=P/scott+DB=a/b/c", "ORACLE_XA+Acc=P/scott+DB=a/b/c"},
      {"ORACLE_XA+Acc=P/a/one+Acc=P/b/two", "ORACLE_XA+Acc=P/a/****+Acc=P/b/****"},
      {"ORACLE_XA+Accx=P/a/b", "ORACLE_XA+Accx=P/a/b"},
      {"+Acc=P/a/b", "+Acc=P/a/****"},
      {"ORACLE_XA+ aCC =scott/tiger+DB=x", "ORACLE_XA+ aCC =scott/****+DB=x"},
      {"ORACLE_XA+Acc\t=tiger", "ORACLE_XA+Acc\t=****"},
      {"no options", "no options"},
  };
  for (const auto& row : rows) EXPECT_EQ(maskPassword(row.text), row.shown) << row.text;
}

TEST(DriverText, DbValueIsTheFirstDbOption) {
  const struct {
    const char* text;
    const char* value;
  } rows[] = {
      {"ORACLE_XA+DB=orcl+SqlNet=x", "orcl"},
      {"ORACLE_XA+db=lower", "lower"},
      {"ORACLE_XA+DB=first+DB=second", "first"},
      {"ORACLE_XA+DBX=no+SqlNet=x", ""},
      {"ORACLE_XA+SqlNet=x", ""},
      {"ORACLE_XA+DB=", ""},
  };
  for (const auto& row : rows) EXPECT_EQ(dbValue(row.text), row.value) << row.text;
}

TEST(DriverText, ResultAndFlagNamesRoundTrip) {
  for (int code : {XA_OK, XA_RDONLY, XA_RBROLLBACK, XA_HEURMIX, XAER_RMERR, XAER_NOTA, XAER_INVAL,
                   XAER_PROTO, XAER_DUPID, XAER_OUTSIDE}) {
    int read = 99;
    ASSERT_TRUE(parseResult(resultName(code), &read)) << code;
    EXPECT_EQ(read, code) << resultName(code);
  }
  EXPECT_EQ(resultName(-77), "-77");
  EXPECT_EQ(flagsName(TMNOFLAGS), "TMNOFLAGS");
  EXPECT_EQ(flagsName(TMSTARTRSCAN | TMENDRSCAN), "TMSTARTRSCAN|TMENDRSCAN");
  EXPECT_EQ(flagsName(static_cast<long>(TMASYNC | 0x1)), "TMASYNC|0x1");
  for (const char* text :
       {"TMONEPHASE", "TMJOIN|TMNOWAIT", "TMASYNC", "0x40000000", "TMSUSPEND|TMMIGRATE"}) {
    long flags = 0;
    ASSERT_TRUE(parseFlags(text, &flags)) << text;
    long again = 0;
    ASSERT_TRUE(parseFlags(flagsName(flags), &again)) << text;
    EXPECT_EQ(again, flags) << text;
  }
  long flags = 0;
  EXPECT_FALSE(parseFlags("TMONEPHASE|TMBOGUS", &flags));
  EXPECT_FALSE(parseFlags("", &flags));
}

TEST(DriverText, ScriptLinesAndTheirMistakes) {
  std::vector<Step> steps;
  std::string error;
  ASSERT_TRUE(
      parseScript("# comment\n"
                  "open 3 \"ORACLE_XA+DB=a b\" expect XA_OK\n"
                  "end 3 g/q\n"
                  "commit -2 g TMONEPHASE expect XAER_NOTA   # trailing comment\n"
                  "recover 3 5\n"
                  "commit 3 recovered expect 0\n",
                  &steps, &error))
      << error;
  ASSERT_EQ(steps.size(), 5u);
  EXPECT_EQ(steps[0].text, "ORACLE_XA+DB=a b");
  EXPECT_TRUE(steps[0].checked);
  EXPECT_EQ(steps[1].flags, TMSUCCESS) << "end's default";
  EXPECT_EQ(steps[1].gtrid, "g");
  EXPECT_EQ(steps[1].bqual, "q");
  EXPECT_FALSE(steps[1].checked);
  EXPECT_EQ(steps[2].rmid, -2);
  EXPECT_EQ(steps[2].flags, TMONEPHASE);
  EXPECT_EQ(steps[2].expected, XAER_NOTA);
  EXPECT_EQ(steps[3].flags, TMSTARTRSCAN | TMENDRSCAN) << "recover's default";
  EXPECT_EQ(steps[3].count, 5);
  EXPECT_TRUE(steps[4].recovered);

  const struct {
    const char* line;
    const char* error;
  } wrong[] = {
      {"begin 1", "line 1: unknown call 'begin'"},
      {"start x g", "line 1: start needs an rmid, an int from -2147483648 to 2147483647, not 'x'"},
      {"start", "line 1: start needs an rmid"},
      {"open 1", "line 1: open needs an open string"},
      {"open 1 \"ORACLE_XA", "line 1: unterminated quoted text"},
      {"start 1 g TMBOGUS", "line 1: bad flags 'TMBOGUS'"},
      {"start 1 g expect",
       "line 1: expect needs an XA result name or a number from -2147483648 to 2147483647"},
      {"start 1 g expect XA_OK extra", "line 1: unexpected 'extra'"},
      {"recover 1", "line 1: recover needs a count"},
      {"crash now", "line 1: crash takes no arguments"},
      {"work 1 TMJOIN", "line 1: bad flags 'TMJOIN'"},
      // Numbers are read whole and must fit where they go.
      {"open 4294967297 \"ORACLE_XA\"",
       "line 1: open needs an rmid, an int from -2147483648 to 2147483647, not '4294967297'"},
      {"close 1x", "line 1: close needs an rmid, an int from -2147483648 to 2147483647, not '1x'"},
      {"close 0x1",
       "line 1: close needs an rmid, an int from -2147483648 to 2147483647, not '0x1'"},
      {"start 1 g 0x100000000", "line 1: bad flags '0x100000000'"},
      {"start 1 g -1", "line 1: bad flags '-1'"},
      {"start 1 g expect 4294967296",
       "line 1: expect needs an XA result name or a number from -2147483648 to 2147483647"},
      {"start 1 g expect 1e3",
       "line 1: expect needs an XA result name or a number from -2147483648 to 2147483647"},
      // An open string that cannot reach the client as written.
      {"open 1 \"ORACLE_XA\r\"", "line 1: the open string holds a carriage return"},
      // Words that may be pieces of a password are not shown.
      {"open 1 ORACLE_XA+Acc=P/scott/my secret",
       "line 1: bad flags (a word not shown: the line holds a password)"},
      {"open 1 ORACLE_XA+Acc=P/scott/my secret expect XA_OK",
       "line 1: bad flags (a word not shown: the line holds a password)"},
      {"open 1 ORACLE_XA+Acc=P/scott/my TMNOFLAGS expect XA_OK extra secret",
       "line 1: unexpected (a word not shown: the line holds a password)"},
      {"open 1 \"ORACLE_XA+DB=x\" extra", "line 1: bad flags 'extra'"},
  };
  for (const auto& row : wrong) {
    std::vector<Step> ignored;
    std::string message;
    EXPECT_FALSE(parseScript(row.line, &ignored, &message)) << row.line;
    EXPECT_EQ(message, row.error) << row.line;
  }
  const std::string countRange = "from " + std::to_string(LONG_MIN) + " to 10000";
  for (const char* count : {"10001", "999999999999999999", "99999999999999999999", "12x"}) {
    std::vector<Step> ignored;
    std::string message;
    EXPECT_FALSE(parseScript("recover 1 " + std::string(count) + " expect 0", &ignored, &message))
        << count;
    EXPECT_EQ(message, "line 1: recover needs a count " + countRange +
                           " (an XID is allocated for each), not '" + count + "'")
        << count;
  }
  std::vector<Step> ignored;
  EXPECT_FALSE(parseScript(std::string("open 1 \"ORACLE_XA\0\"", 18), &ignored, &error));
  EXPECT_EQ(error, "line 1: a NUL byte");
  ASSERT_TRUE(parseScript("recover -7 10000 0x0 expect -2147483648", &ignored, &error)) << error;
  EXPECT_EQ(ignored.back().rmid, -7);
  EXPECT_EQ(ignored.back().count, 10000);
  EXPECT_EQ(ignored.back().expected, INT_MIN);
  std::string longXid = "start 1 " + std::string(65, 'g');
  EXPECT_FALSE(parseScript(longXid, &steps, &error)) << "a 65-byte gtrid";
}

TEST(DriverText, RecoveredXidsPasteBack) {
  const struct {
    std::string text;
    bool valid;
    long formatId;
    const char* canonical;  // as xidToHex writes it back, when not the text itself
  } rows[] = {
      {"5a50:63726173682d37:62", true, 0x5a50, "5a50:63726173682d37:62"},
      {"5A50:ABCD:EF", true, 0x5a50, "5a50:abcd:ef"},
      {"ffffffff:00:00", true, -1, "ffffffff:00:00"},
      {"0:" + std::string(128, 'a') + ":" + std::string(128, 'b'), true, 0, nullptr},
      {"1:" + std::string(130, 'a') + ":bb", false, 0, nullptr},  // 65 bytes of gtrid
      {"123456789:aa:bb", false, 0, nullptr},                     // format beyond 32 bits
      {"1:abc:bb", false, 0, nullptr},                            // half a byte
      {"1::bb", false, 0, nullptr},
      {"1:aa:", true, 1, nullptr},  // an empty branch qualifier
      {"1:aa", true, 1, "1:aa:"},   // as an older list printed it
      {"1:aa:bb:cc", false, 0, nullptr},
      {"1:zz:bb", false, 0, nullptr},
      {":aa:bb", false, 0, nullptr},
  };
  for (const auto& row : rows) {
    const std::string& text = row.text;
    XID xid = {};
    xid.formatID = 77;
    ASSERT_EQ(xidFromHex(text, &xid), row.valid) << text;
    if (!row.valid) {
      EXPECT_EQ(xid.formatID, 77) << text << ": a refused XID is left alone";
      continue;
    }
    EXPECT_EQ(xid.formatID, row.formatId) << text;
    EXPECT_EQ(xidToHex(xid), row.canonical != nullptr ? row.canonical : text) << text;
  }
}

TEST(DriverText, ListedXidsOfEveryBqualLengthPasteBack) {
  for (long bqual = 0; bqual <= MAXBQUALSIZE; ++bqual) {
    XID xid = {};
    xid.formatID = 0x5a42;
    xid.gtrid_length = 3;
    xid.bqual_length = bqual;
    for (long i = 0; i < xid.gtrid_length + bqual; ++i) xid.data[i] = static_cast<char>(i * 37);
    const std::string text = xidToHex(xid);
    XID back = {};
    ASSERT_TRUE(xidFromHex(text, &back)) << "bqual " << bqual << ": " << text;
    EXPECT_EQ(back.bqual_length, bqual) << "bqual " << bqual;
    EXPECT_EQ(std::memcmp(&back, &xid, sizeof xid), 0) << "bqual " << bqual << ": " << text;
  }
}

TEST(DriverText, OptionValuesTheClientRefuses) {
  const struct {
    const char* keyword;
    const char* value;
    bool refused;
  } rows[] = {
      {"Acc", "P/scott/tiger", false},
      {"acc", "p/scott/tiger", false},
      {"Acc", "P/scott", true},
      {"Acc", "P/scott/", true},
      {"Acc", "P//tiger", true},
      {"Acc", "scott/tiger", true},
      {"SesTm", "60", false},
      {"SESTM", "60  ", false},
      {"SesTm", "abc", true},
      {"SesTm", "", true},
      {"SesTm", "-5", true},
      {"SesTm", "1234567890", true},
      {"Threads", "TRUE", false},
      {"Threads", "yes", true},
      {"DB", "", true},
      {"SqlNet", "orcl", false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(!clientValueProblem(row.keyword, row.value).empty(), row.refused)
        << "+" << row.keyword << "=" << row.value;
  }
}

TEST(DriverText, ScenariosNameTheirRmidAndOpenString) {
  const std::string script = scenarioScript("two-phase", 42);
  std::vector<Step> steps;
  std::string error;
  ASSERT_TRUE(parseScript(script, &steps, &error)) << error;
  ASSERT_FALSE(steps.empty());
  // The open string is never read as script text: quotes and '#' stay.
  setOpenStrings(&steps, "ORACLE_XA+DB=rm{rmid}+SqlNet= R x\"y # z");
  EXPECT_EQ(steps.front().text, "ORACLE_XA+DB=rm42+SqlNet= R x\"y # z")
      << "the open string itself is left alone";
  for (const Step& step : steps) {
    EXPECT_EQ(step.rmid, 42) << "line " << step.line;
    EXPECT_TRUE(step.checked) << "line " << step.line;
  }
  EXPECT_EQ(steps.back().op, Op::kClose);
  EXPECT_EQ(scenarioScript("three-phase", 1), "");
  for (int i = 0; i < kScenarioCount; ++i) {
    std::vector<Step> parsed;
    EXPECT_TRUE(parseScript(scenarioScript(kScenarioNames[i], 1), &parsed, &error))
        << kScenarioNames[i];
  }
}

// A printed command must reach the program as the words it was built from.
TEST(DriverText, ShellWordsSurviveTheirShell) {
  const struct {
    const char* word;
    const char* posix;
    const char* cmd;
  } rows[] = {
      {"plain-word_1.2", "plain-word_1.2", "plain-word_1.2"},
      {"C:\\zp\\zpor8dtc23.dll", "'C:\\zp\\zpor8dtc23.dll'", "C:\\zp\\zpor8dtc23.dll"},
      {"C:\\Program Files\\zp\\xadriver.exe", "'C:\\Program Files\\zp\\xadriver.exe'",
       "\"C:\\Program Files\\zp\\xadriver.exe\""},
      {"ORACLE_XA+Acc=P/scott/****+DB=a b", "'ORACLE_XA+Acc=P/scott/****+DB=a b'",
       "\"ORACLE_XA+Acc=P/scott/****+DB=a b\""},
      {"a&b|c<d>e^f(g)", "'a&b|c<d>e^f(g)'", "\"a&b|c<d>e^f(g)\""},
      {"it's", "'it'\\''s'", "\"it's\""},
      {"say \"hi\"", "'say \"hi\"'", "^\"say \\^\"hi\\^\"^\""},
      {"100%&!", "'100%&!'", "^\"100^%^&^!^\""},
      {"trailing\\ ", "'trailing\\ '", "\"trailing\\ \""},
      {"ends in \\", "'ends in \\'", "\"ends in \\\\\""},
      {"", "''", "\"\""},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(posixShellWord(row.word), row.posix) << "posix: " << row.word;
    EXPECT_EQ(cmdShellWord(row.word), row.cmd) << "cmd: " << row.word;
  }
}

// The hint recover --list prints repeats every option the call needs, and
// never shows a password.
TEST(DriverText, RecoverHintRepeatsTheCall) {
  const struct {
    const char* row;
    bool openGiven;
    const char* openFile;
    const char* open;
    bool dtc;
    const char* wanted;  // in the command line
    const char* never;
  } rows[] = {
      {"default open", false, "", "", true, "--rmid 7 recover --commit 1:aa:bb", "--open"},
      {"open file", true, "my open.txt", "ORACLE_XA+Acc=P/u/secret", true,
       "--open-file 'my open.txt' recover", "secret"},
      {"open, no password", true, "", "ORACLE_XA+DB=x+SqlNet=y", false,
       "--tm mq --rmid 7 --open ORACLE_XA+DB=x+SqlNet=y recover", "--open-file"},
      {"open with password", true, "", "ORACLE_XA+Acc=P/u/secret", true,
       "--open-file OPEN-FILE recover", "secret"},
  };
  for (const auto& row : rows) {
    RecoverCall call;
    call.driver = "xadriver";
    call.module = "/lib/zp.so";
    call.dtc = row.dtc;
    call.rmid = 7;
    call.openGiven = row.openGiven;
    call.openFile = row.openFile;
    call.open = row.open;
    const std::string hint = recoverHint(call, "1:aa:bb");
#ifndef _WIN32
    EXPECT_NE(hint.find(std::string("xadriver --module /lib/zp.so ")), std::string::npos)
        << row.row;
    EXPECT_NE(hint.find(row.wanted), std::string::npos) << row.row << ": " << hint;
#endif
    EXPECT_EQ(hint.find(row.never), std::string::npos) << row.row << ": " << hint;
  }
}

}  // namespace
}  // namespace xadriver
}  // namespace zp
