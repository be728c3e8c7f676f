#include "journal_lines.h"

namespace zp {
namespace test {

std::vector<std::string> journalLines() {
  std::vector<std::string> lines;
  char buffer[4096];
  const int32_t count = zp_journal_count();
  for (int32_t i = 0; i < count; ++i) {
    if (zp_journal_line(i, buffer, sizeof buffer)) lines.emplace_back(buffer);
  }
  return lines;
}

std::vector<std::string> journalLinesStartingWith(const std::vector<std::string>& prefixes) {
  std::vector<std::string> selected;
  for (const std::string& line : journalLines()) {
    for (const std::string& prefix : prefixes) {
      if (line.compare(0, prefix.size(), prefix) == 0) {
        selected.push_back(line);
        break;
      }
    }
  }
  return selected;
}

std::string journalText() {
  std::string text;
  for (const std::string& line : journalLines()) text += line + "\n";
  return text;
}

}  // namespace test
}  // namespace zp
