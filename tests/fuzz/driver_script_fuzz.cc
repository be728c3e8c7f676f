// The driver's script reader: an accepted script gives steps that, written
// back as script lines, read back to the same steps on the lines they came
// from; a refused script names a line, the lines before it read cleanly, and
// that line alone is refused with the same message.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "tools/xadriver/script.h"

namespace {

using zp::xadriver::Op;
using zp::xadriver::Step;

// A word as a script holds it: quoted, unless it holds a quote itself (then
// it came unquoted and has no blank, so it reads back bare).
std::string word(const std::string& text) {
  return text.find('"') == std::string::npos ? "\"" + text + "\"" : text;
}

bool takesXid(Op op) {
  return op == Op::kStart || op == Op::kEnd || op == Op::kPrepare || op == Op::kCommit ||
         op == Op::kRollback || op == Op::kForget;
}

std::string lineOf(const Step& step) {
  std::string line = zp::xadriver::stepName(step.op);
  if (step.op == Op::kCrash) return line;
  line += " " + std::to_string(step.rmid);
  if (step.op == Op::kOpen) line += " " + word(step.text);
  if (takesXid(step.op)) {
    std::string xid = step.gtrid;
    // "gtrid/" with an empty bqual reads as "gtrid": only "recovered/"
    // needs its slash, to stay apart from the word "recovered".
    if (!step.bqual.empty() || (!step.recovered && step.gtrid == "recovered"))
      xid += "/" + step.bqual;
    line += " " + (step.recovered ? std::string("recovered") : word(xid));
  }
  if (step.op == Op::kRecover) line += " " + std::to_string(step.count);
  if (step.op != Op::kWork) line += " " + std::to_string(step.flags);
  if (step.checked) line += " expect " + std::to_string(step.expected);
  return line;
}

bool sameStep(const Step& a, const Step& b) {
  return a.op == b.op && a.rmid == b.rmid && a.text == b.text && a.gtrid == b.gtrid &&
         a.bqual == b.bqual && a.recovered == b.recovered && a.flags == b.flags &&
         a.count == b.count && a.checked == b.checked && a.expected == b.expected;
}

// The lines of source as the reader splits them (a last line without its
// newline counts; the empty text after a final newline does not).
std::vector<std::string> linesOf(const std::string& source) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < source.size()) {
    size_t end = source.find('\n', at);
    if (end == std::string::npos) end = source.size();
    lines.push_back(source.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string source(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> lines = linesOf(source);
  std::vector<Step> steps;
  std::string error;
  if (zp::xadriver::parseScript(source, &steps, &error)) {
    FUZZ_CHECK(error.empty(), source);
    int previous = 0;
    for (const Step& step : steps) {
      FUZZ_CHECK(step.line > previous && step.line <= static_cast<int>(lines.size()), source);
      previous = step.line;
      // The step, written back, reads back as itself.
      std::vector<Step> again;
      std::string againError;
      const std::string line = lineOf(step);
      FUZZ_CHECK(zp::xadriver::parseScript(line, &again, &againError), source + " | " + line);
      FUZZ_CHECK(again.size() == 1 && sameStep(again[0], step), source + " | " + line);
      // And the line it came from, alone, gives the same step.
      again.clear();
      FUZZ_CHECK(zp::xadriver::parseScript(lines[step.line - 1], &again, &againError), source);
      FUZZ_CHECK(again.size() == 1 && sameStep(again[0], step), source);
    }
    return 0;
  }

  // "line N: message", N one of the script's lines.
  FUZZ_CHECK(error.compare(0, 5, "line ") == 0, source + " | " + error);
  const size_t colon = error.find(": ");
  FUZZ_CHECK(colon != std::string::npos && colon > 5 && colon + 2 < error.size(),
             source + " | " + error);
  const std::string number = error.substr(5, colon - 5);
  FUZZ_CHECK(!number.empty() && number.size() < 10 &&
                 number.find_first_not_of("0123456789") == std::string::npos,
             source + " | " + error);
  const size_t failed = std::stoul(number);
  FUZZ_CHECK(failed >= 1 && failed <= lines.size(), source + " | " + error);
  std::string before;
  for (size_t i = 0; i + 1 < failed; ++i) before += lines[i] + "\n";
  std::vector<Step> ignored;
  std::string beforeError;
  FUZZ_CHECK(zp::xadriver::parseScript(before, &ignored, &beforeError), source + " | " + error);
  std::string alone;
  FUZZ_CHECK(!zp::xadriver::parseScript(lines[failed - 1], &ignored, &alone), source);
  FUZZ_CHECK(alone == "line 1" + error.substr(colon), source + " | " + error + " | " + alone);
  return 0;
}
