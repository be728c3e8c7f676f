#include "tools/xadriver/args.h"

#include <cstdio>
#include <cstdlib>

#include "tools/xadriver/open_text.h"
#include "tools/xadriver/script.h"

namespace zp {
namespace xadriver {

void usageExit(const char* program, const std::string& message) {
  std::fprintf(stderr, "%s: %s (see %s --help)\n", program, message.c_str(), program);
  std::exit(kExitUsage);
}

std::string shownArgument(const std::string& argument) {
  return "'" + maskPassword(argument) + "'";
}

bool ArgumentReader::next() {
  if (index_ + 1 >= argc_) return false;
  current_ = argv_[++index_];
  return true;
}

std::string ArgumentReader::value() {
  if (index_ + 1 >= argc_) usageExit(program_, current_ + " needs a value");
  return argv_[++index_];
}

int ArgumentReader::count(int lowest, int highest) {
  const std::string option = current_;
  const std::string text = value();
  long long number = 0;
  if (!parseInteger(text, lowest, highest, &number))
    usageExit(program_, option + " needs a number from " + std::to_string(lowest) + " to " +
                            std::to_string(highest) + ", not " + shownArgument(text));
  return static_cast<int>(number);
}

}  // namespace xadriver
}  // namespace zp
