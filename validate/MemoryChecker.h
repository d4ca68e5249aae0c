// The memory checker a crashed check runs under once more: valgrind, where it
// is installed. A heap overrun often crashes only later, in free() or malloc();
// under the checker it is reported at the module's own write, with the stack
// in the module's function names (and files and lines, where the module
// carries debug information).
#ifndef VALIDATE_MEMORYCHECKER_H
#define VALIDATE_MEMORYCHECKER_H

#include <string>
#include <vector>

#include "ChildRequest.h"

class MemoryChecker {
 public:
  // The words that run a program under the checker, stopping at its first
  // error; none where there is no checker: not installed, QXHOST_MEMORY_CHECKER
  // is "none", this program is built with a sanitizer (which valgrind cannot
  // run), or its children run under an emulator. QXHOST_MEMORY_CHECKER may
  // also name the valgrind program to use.
  static std::vector<std::string> Command();
  // Whether this program carries a sanitizer's run time (which reports
  // crashes itself, and which valgrind cannot run).
  static bool Sanitized();
  // The checker's first report in `output` (an error, or the signal that
  // ended the program, with its stack), its lines without the checker's
  // "==PID== " prefix and without its banner; "" if there is none.
  static std::string FirstError(const std::string& output);
  // Runs `request` once more in a process of `program` under the checker and
  // says what it found: "its first memory error, run again under valgrind:"
  // and the report, the crash's stack where no memory error came before it,
  // or that it found neither; "" where there is no checker.
  // `timeout` is the limit of the first run: the checker is given more.
  static std::string Explain(const std::string& program, double timeout, const ChildRequest& request);
};

#endif  // VALIDATE_MEMORYCHECKER_H
