// `qxhost validate`: runs the catalog's checks on module files and reports
// each as pass, warn, skip, fail, crash or timeout.
//
// Each check runs in a child process: this program run again, asked in its
// request (ChildRequest) for `validate --run-check NAME ... -- MODULE`. The
// child reports on its channels (see ChildReport): each call into the module
// as it begins and ends, then the check's result; the
// module's own output goes to the child's standard output and error, which
// are shown with the result. A child that dies, hangs or ends without a result
// fails only its own check, naming the call that was in flight.
// `in_process` runs the checks in this process instead (for a debugger).
#ifndef VALIDATE_VALIDATOR_H
#define VALIDATE_VALIDATOR_H

#include <cstdint>
#include <cstdio>
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
  // Exit codes. A check's process that reported its result but could not
  // write the trace ends with TRACE_NOT_WRITTEN, which makes the run's USAGE.
  enum { ALL_PASSED = 0, FAILED = 1, USAGE = 2, TRACE_NOT_WRITTEN = 3 };

  struct Options {
    std::vector<std::string> modules;
    std::string include;  // ECMAScript regular expressions searched in check names
    std::string exclude;
    uint64_t seed = 0;
    bool seed_given = false;
    double timeout = 10.0;  // seconds per check
    int size = 64;          // work of the sized checks
    int jobs = 0;           // checks run side by side; 0: one per processor
    int strictness = 1;     // runs the checks of this level and below
    int repeat = 1;         // rounds of the whole suite, round r with seed + r
    bool shuffle = false;   // each round in an order drawn from its seed
    bool strict = false;    // a warning fails its check
    bool only_failed = false;
    bool json = false;
    bool in_process = false;
    std::string junit;
    std::string trace;
    std::string program;  // run for each check; empty: this program
  };

  // Will run `checks` (as Select chose them) on the options' modules.
  Validator(Options options, std::vector<const ValidationCheck*> checks, std::ostream& out,
            std::ostream& err);
  ~Validator();
  Validator(const Validator&) = delete;
  Validator& operator=(const Validator&) = delete;
  // Runs the checks on every module; answers the exit code.
  int Run();

  // The checks the options select (by name and strictness), in catalog
  // order; false and `error` for a pattern that is not a regular expression,
  // or for a selection without any check.
  static bool Select(const Options& options, std::vector<const ValidationCheck*>* checks, std::string* error);

  // The child's side: runs check `name` here and writes its result, tagged
  // with the run's token, on the channels its parent's request names.
  static int RunChild(const std::string& name, const std::string& module, uint64_t seed, int size,
                      const std::string& trace, const ChildRequest& request);
  // Runs a check in this process; an exception becomes a crash.
  static CheckResult RunHere(const ValidationCheck& check, CheckContext& context);

 private:
  using Record = std::function<void(const ValidationCheck&, const CheckResult&)>;

  // What a check's process is asked to do; `traced`: with the run's trace.
  ChildRequest Request(const ValidationCheck& check, const std::string& module, uint64_t seed,
                       bool traced = true) const;
  // What a child's end says about its check; notes a trace it could not write.
  CheckResult Classify(const ChildRunner::Outcome& outcome);
  // What a child's end says, and for a process killed by a signal the first
  // error of the memory checker (MemoryChecker) that ran the check once more,
  // where there is one. A process that ended itself is not run again: no
  // stack or memory error would say more than its status.
  CheckResult Explained(const ValidationCheck& check, const std::string& module, uint64_t seed,
                        const ChildRunner::Outcome& outcome);
  CheckResult RunOne(const ValidationCheck& check, const std::string& module, uint64_t seed,
                     TraceWriter* trace);
  // Runs `checks` on `module`, up to `jobs` at a time, and hands each result
  // to `record` in the order of `checks`. With `stop_at_crash`, a check that
  // crashes or times out stops the phase: the checks not yet started are
  // reported as skipped, and the reason is returned (else "").
  std::string RunPhase(const std::vector<const ValidationCheck*>& checks, const std::string& module,
                       uint64_t seed, TraceWriter* trace, bool stop_at_crash, const Record& record);
  // One round of the checks on one module.
  void RunRound(const std::string& module, uint64_t seed, TraceWriter* trace, const Record& record,
                bool* unloadable);
  // Opens the report files before any check runs and writes their first
  // line, so that a file that takes nothing fails here; false and a line on
  // the error stream if one cannot be written, or is one of the modules.
  bool OpenReports(TraceWriter* trace);
  // Whether the report files were written to the end; if not, a line on the
  // error stream.
  bool ReportsWritten(const TraceWriter& trace);
  // Whether another file now stands at a report's path than the one this run
  // opened (`file`, its FilePath::Identity); if so, a line on the error stream.
  bool Replaced(const std::string& path, const std::string& file, const std::string& given,
                const char* option);

  Options m_options;
  std::vector<const ValidationCheck*> m_checks;
  std::ostream& m_out;
  std::ostream& m_err;
  std::string m_token;
  std::FILE* m_junit = nullptr;
  // The paths as given (for messages and the report) and as files, resolved
  // before any module is loaded.
  std::vector<std::string> m_module_paths;
  std::string m_junit_path, m_trace_path;
  // The files they were once opened: a module that puts a file of its own in
  // a report's place is found out at the end.
  std::string m_junit_file, m_trace_file;
  bool m_child_trace_failed = false;
};

#endif  // VALIDATE_VALIDATOR_H
