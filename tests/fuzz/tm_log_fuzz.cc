// The transaction manager's log reader. The input is read as a log as it
// stands (whatever it accepts is well-formed), and it also builds a valid
// log and the damage done to it:
//   - cut at any byte: the reader takes exactly the records whole before the
//     cut (a last record that lost only its line end counts);
//   - cut and followed by any bytes without a line end: refused, or every
//     decision before the cut is there and at most one more;
//   - one byte changed before the end: refused, never read with a decision
//     missing;
//   - CR LF line ends and a trailing blank line: the same decisions.
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "tools/xadriver/tm_log.h"

namespace {

using zp::xadriver::TmLog;
using zp::xadriver::TmLogContents;

// Reads bytes off the input, zero once it is used up.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::string rest() {
    std::string text(reinterpret_cast<const char*>(data_) + at_, size_ - at_);
    at_ = size_;
    return text;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

struct Record {
  std::string line;
  bool commit = false;
  std::string gtrid;
};

bool parses(const std::string& bytes, TmLogContents* contents) {
  std::string error;
  const bool read = TmLog::parse(bytes, contents, &error);
  return read;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  TmLogContents raw;
  if (parses(input, &raw)) {
    FUZZ_CHECK(raw.records >= 1 && raw.tmId.size() == 16, input);
    FUZZ_CHECK(raw.wholeEnd <= input.size(), input);
    for (const std::string& gtrid : raw.committed)
      FUZZ_CHECK(!gtrid.empty() && gtrid.find_first_of(" \r\n") == std::string::npos, input);
  }

  // A valid log of up to 15 records after its header, each a commit or a
  // done of a short printable global transaction id.
  Input in(data, size);
  static const char kAlphabet[] = "0123456789abcdefzpbank-";
  std::vector<Record> records;
  Record header;
  header.line = TmLog::record(TmLog::headerPayload("00112233aabbccdd"));
  records.push_back(header);
  const int count = in.byte() % 16;
  for (int i = 0; i < count; ++i) {
    Record record;
    const uint8_t shape = in.byte();
    record.commit = (shape & 1) == 0;
    const int length = 1 + (shape >> 1) % 24;
    for (int j = 0; j < length; ++j) record.gtrid += kAlphabet[in.byte() % (sizeof kAlphabet - 1)];
    record.line = TmLog::record((record.commit ? "commit " : "done ") + record.gtrid);
    records.push_back(record);
  }
  std::string log;
  for (const Record& record : records) log += record.line;
  std::set<std::string> all;
  for (const Record& record : records)
    if (record.commit) all.insert(record.gtrid);

  TmLogContents contents;
  FUZZ_CHECK(parses(log, &contents) && contents.committed == all, input);
  std::string crlf;
  for (char c : log) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  FUZZ_CHECK(parses(crlf, &contents) && contents.committed == all, input);
  FUZZ_CHECK(parses(log + "\n", &contents) && contents.committed == all, input);

  // The cut: the decisions of the records whole before it, where a record
  // missing only its line end is whole.
  const size_t cut = (static_cast<size_t>(in.byte()) << 8 | in.byte()) % (log.size() + 1);
  std::set<std::string> before;  // records with their line end before the cut
  std::set<std::string> kept;    // and one that lacks only its line end
  size_t end = 0;
  size_t whole = 0;
  for (const Record& record : records) {
    end += record.line.size();
    if (end <= cut) {
      ++whole;
      if (record.commit) before.insert(record.gtrid);
    }
    if (end - 1 <= cut && record.commit) kept.insert(record.gtrid);
  }
  const bool headerKept = header.line.size() - 1 <= cut;
  const std::string prefix = log.substr(0, cut);
  const bool read = parses(prefix, &contents);
  FUZZ_CHECK(read == headerKept, input);
  if (read) FUZZ_CHECK(contents.committed == kept, input);

  // The cut followed by other bytes without a line end.
  std::string garbage = in.rest();
  for (char& c : garbage)
    if (c == '\n') c = ' ';
  if (parses(prefix + garbage, &contents) && whole > 0) {
    for (const std::string& gtrid : before) FUZZ_CHECK(contents.committed.count(gtrid) == 1, input);
    FUZZ_CHECK(contents.committed.size() <= before.size() + 1, input);
  }

  // One byte changed anywhere before the end of the last record.
  if (!garbage.empty() && log.size() > 1) {
    const size_t at = static_cast<unsigned char>(garbage[0]) * 131u % (log.size() - 1);
    const char value = garbage.size() > 1 ? garbage[1] : '\x01';
    if (value != log[at]) {
      std::string changed = log;
      changed[at] = value;
      FUZZ_CHECK(!parses(changed, &contents), input);
    }
  }
  return 0;
}
