// `qxhost validate`: runs the catalog's checks on module files and reports
// each as pass, warn, skip, fail, crash or timeout.
//
// Each check runs in a child process: this program run again with the hidden
// arguments `validate --run-check NAME --seed N --size S MODULE`, which prints
// the check's result as one line on standard output while the module prints
// what it likes on standard error. A child that dies, or gives no result
// within the time limit, fails only its own check, with what it printed.
// `in_process` runs the checks in this process instead (for a debugger).
#ifndef VALIDATE_VALIDATOR_H
#define VALIDATE_VALIDATOR_H

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "CheckContext.h"
#include "CheckResult.h"
#include "ChildRunner.h"
#include "TraceWriter.h"
#include "ValidationCheck.h"

class Validator {
 public:
  // Exit codes.
  enum { ALL_PASSED = 0, FAILED = 1, USAGE = 2 };

  struct Options {
    std::vector<std::string> modules;
    std::string include;  // ECMAScript regular expressions searched in check names
    std::string exclude;
    uint64_t seed = 0;
    bool seed_given = false;
    double timeout = 10.0;  // seconds per check
    int size = 64;          // work of the sized checks
    int jobs = 0;           // checks run side by side; 0: one per processor
    bool only_failed = false;
    bool json = false;
    bool in_process = false;
    std::string junit;
    std::string trace;
    std::string program;  // run for each check; empty: this program
  };

  // Will run `checks` (as Select chose them) on the options' modules.
  Validator(Options options, std::vector<const ValidationCheck*> checks, std::ostream& out, std::ostream& err);
  // Runs the checks on every module; answers the exit code.
  int Run();

  // The checks the options select, in catalog order; false and `error` for a
  // pattern that is not a regular expression.
  static bool Select(const Options& options, std::vector<const ValidationCheck*>* checks, std::string* error);

  // The child's side: runs check `name` here and prints its result line.
  static int RunChild(const std::string& name, const std::string& module, uint64_t seed, int size,
                      const std::string& trace, std::ostream& out);
  // Runs a check in this process; an exception becomes a crash.
  static CheckResult RunHere(const ValidationCheck& check, CheckContext& context);

  // The line a child prints, and the reading of a child's standard output:
  // false if it holds no result line (the rest is the module's output).
  static std::string ResultLine(const CheckResult& result);
  static bool ParseResult(const std::string& out, CheckResult* result, std::string* rest);

 private:
  std::vector<std::string> ChildCommand(const ValidationCheck& check, const std::string& module) const;
  // What a child's end says about its check.
  CheckResult Classify(const ChildRunner::Outcome& outcome) const;
  CheckResult RunOne(const ValidationCheck& check, const std::string& module, TraceWriter* trace);
  // Runs `checks` on `module`, up to `jobs` children at a time, and hands
  // each result to `done` in the order of `checks`.
  void RunMany(const std::vector<const ValidationCheck*>& checks, const std::string& module,
               const std::function<void(const ValidationCheck&, const CheckResult&)>& done);

  Options m_options;
  std::vector<const ValidationCheck*> m_checks;
  std::ostream& m_out;
  std::ostream& m_err;
};

#endif  // VALIDATE_VALIDATOR_H
