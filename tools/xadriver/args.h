// The command lines of xadriver and xabank: their faults of use, arguments
// quoted in messages, and options read one by one with their values.
#ifndef ZP_TOOLS_XADRIVER_ARGS_H
#define ZP_TOOLS_XADRIVER_ARGS_H

#include <string>

namespace zp {
namespace xadriver {

// The exit code of a fault of use.
constexpr int kExitUsage = 2;

// Prints "program: message (see program --help)" and ends the program with
// kExitUsage.
[[noreturn]] void usageExit(const char* program, const std::string& message);

// An argument as a message quotes it: an open string given in the wrong place
// shows no password.
std::string shownArgument(const std::string& argument);

// Walks a program's arguments in order. A missing or unusable option value
// ends the program as a fault of use.
class ArgumentReader {
 public:
  ArgumentReader(const char* program, int argc, char** argv)
      : program_(program), argc_(argc), argv_(argv) {}

  // Moves to the next argument; false after the last.
  bool next();
  const std::string& current() const { return current_; }
  // The current option's value: the argument after it.
  std::string value();
  // The current option's value as a whole number from lowest to highest.
  int count(int lowest, int highest);

 private:
  const char* program_;
  int argc_;
  char** argv_;
  int index_ = 0;
  std::string current_;
};

}  // namespace xadriver
}  // namespace zp

#endif  // ZP_TOOLS_XADRIVER_ARGS_H
