// What a check's process tells the validator, and the reading of it. On the
// results channel, one line carries the run's token, a random word the
// validator makes for each run and hands to its children in their requests,
// so that a line a module writes (by accident, or to pass for a result) is
// not taken for one; a second result is not believed either:
//   "@qxresult TOKEN STATUS STOP UNLOADABLE MESSAGE"   the check's result
// On the calls channel, which only explains a crash or a hang:
//   "@qxcall begin N TEXT"   a call is made, with N calls open around it
//   "@qxcall end N"          that call returned
#ifndef VALIDATE_CHILDREPORT_H
#define VALIDATE_CHILDREPORT_H

#include <cstddef>
#include <string>

#include "CheckResult.h"
#include "ChildRunner.h"

class ChildReport {
 public:
  // A new token: 32 hexadecimal digits from the system's random source.
  static std::string NewToken();
  // The result line, message escaped onto one line.
  static std::string ResultLine(const std::string& token, const CheckResult& result);
  // A call's marker into `line` (at most `size` bytes, terminated); its
  // length. Allocates nothing.
  static size_t CallLine(char* line, size_t size, bool begin, int open, const char* text);

  // Reads a report: false if it holds no result with `token`; a failure if it
  // holds more than one. `in_flight` gets the calls still open where `calls`
  // ends, innermost first and joined with ", inside " ("" if none).
  static bool Read(const std::string& report, const std::string& calls, const std::string& token,
                   CheckResult* result, std::string* in_flight);
  // What a child's end says about the work it ran (`what`: "check",
  // "episode"): its result, or a crash or time-out naming the call in flight,
  // with the module's output.
  static CheckResult Classify(const ChildRunner::Outcome& outcome, const std::string& token, double timeout,
                              const std::string& what = "check");
};

#endif  // VALIDATE_CHILDREPORT_H
