#include "ValidateCommand.h"

ValidateCommand::ValidateCommand(CLI::App& tool)
    : ToolCommand(
          tool, "validate",
          "qxhost validate [--include REGEX] [--exclude REGEX] [--seed N] [--size N] [--timeout SECONDS]\n"
          "                       [--jobs N] [--strictness 1|2|3] [--repeat N] [--shuffle] [--strict]\n"
          "                       [--only-failed] [--json] [--junit FILE] [--trace FILE] [--in-process]\n"
          "                       MODULE...",
          "Runs the checks of the host contract (see 'qxhost list-checks') on each MODULE, each check in a\n"
          "child process with a time limit, and reports it as pass, warn, skip, fail, crash (with the\n"
          "signal or exception) or timeout. A run ends with one summary line.\n"
          "Exit status: 0 all passed (warnings and skips allowed), 1 a check failed, crashed or timed\n"
          "out, 2 bad usage or no loadable module.") {
  Option("--include", &m_options.include, "only the checks whose names match (loading.exports always runs)")
      .TypeName("REGEX");
  Option("--exclude", &m_options.exclude, "not the checks whose names match").TypeName("REGEX");
  Option("--seed", &m_seed, "seed of the randomised checks (printed; the same seed repeats a run)")
      .TypeName("N");
  Option("--size", &m_size, "work of the long-running checks: opcodes swept, edits, blocks (default 64)")
      .TypeName("N");
  Option("--timeout", &m_timeout, "time limit of each check (default 10)").TypeName("SECONDS");
  Option("--jobs", &m_jobs, "checks run side by side (default: one per processor)").TypeName("N");
  Option("--strictness", &m_strictness,
         "1 the contract's checks (default), 2 also the long ones, 3 also several threads at once")
      .TypeName("LEVEL");
  Option("--repeat", &m_repeat, "run the checks N times, round r with the seed + r (default 1)")
      .TypeName("N");
  Flag("--shuffle", &m_options.shuffle, "each round in an order drawn from its seed");
  Flag("--strict", &m_options.strict, "a warning fails its check");
  Flag("--only-failed", &m_options.only_failed, "print only the checks that failed, crashed or timed out");
  Flag("--json", &m_options.json, "the report as JSON on standard output (the summary line goes to stderr)");
  Option("--junit", &m_options.junit, "also write the report as JUnit XML").TypeName("FILE");
  Option("--trace", &m_options.trace, "every call between host and module, both directions, as JSON lines")
      .TypeName("FILE");
  Flag("--in-process", &m_options.in_process,
       "run the checks in this process (for a debugger; a crash ends "
       "the run)");
  // A check's own process: started by another qxhost validate, never by hand.
  Option("--run-check", &m_run_check).Hidden();
  Option("MODULE", &m_options.modules, "module files").Required();
}

int ValidateCommand::Run(std::ostream& out, std::ostream& err) {
  if (!m_seed.empty()) {
    m_options.seed = Unsigned("--seed", m_seed);
    m_options.seed_given = true;
  }
  if (!m_size.empty()) m_options.size = static_cast<int>(Whole("--size", m_size, 1, 1000000));
  if (!m_jobs.empty()) m_options.jobs = static_cast<int>(Whole("--jobs", m_jobs, 1, 64));
  if (!m_timeout.empty()) m_options.timeout = Seconds("--timeout", m_timeout, 86400.0);
  if (!m_strictness.empty())
    m_options.strictness = static_cast<int>(Whole("--strictness", m_strictness, 1, 3));
  if (!m_repeat.empty()) m_options.repeat = static_cast<int>(Whole("--repeat", m_repeat, 1, 1000));
  if (!m_run_check.empty()) {
    if (!IsChildProcess()) throw UsageError("--run-check is for the processes qxhost validate starts");
    if (m_options.modules.size() != 1) throw UsageError("--run-check takes one MODULE");
    return Validator::RunChild(m_run_check, m_options.modules[0], m_options.seed, m_options.size,
                               m_options.trace, Request());
  }
  std::vector<const ValidationCheck*> checks;
  std::string error;
  if (!Validator::Select(m_options, &checks, &error)) throw UsageError(error);
  Validator validator(m_options, checks, out, err);
  return validator.Run();
}
