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
  CLI::App& app = *App();
  app.add_option("--include", m_options.include,
                 "only the checks whose names match (loading.exports always runs)")
      ->type_name("REGEX");
  app.add_option("--exclude", m_options.exclude, "not the checks whose names match")->type_name("REGEX");
  app.add_option("--seed", m_seed, "seed of the randomised checks (printed; the same seed repeats a run)")
      ->type_name("N");
  app.add_option("--size", m_size,
                 "work of the long-running checks: opcodes swept, edits, blocks (default 64)")
      ->type_name("N");
  app.add_option("--timeout", m_timeout, "time limit of each check (default 10)")->type_name("SECONDS");
  app.add_option("--jobs", m_jobs, "checks run side by side (default: one per processor)")->type_name("N");
  app.add_option("--strictness", m_strictness,
                 "1 the contract's checks (default), 2 also the long ones, 3 also several threads at once")
      ->type_name("LEVEL");
  app.add_option("--repeat", m_repeat, "run the checks N times, round r with the seed + r (default 1)")
      ->type_name("N");
  app.add_flag("--shuffle", m_options.shuffle, "each round in an order drawn from its seed");
  app.add_flag("--strict", m_options.strict, "a warning fails its check");
  app.add_flag("--only-failed", m_options.only_failed,
               "print only the checks that failed, crashed or timed out");
  app.add_flag("--json", m_options.json,
               "the report as JSON on standard output (the summary line goes to stderr)");
  app.add_option("--junit", m_options.junit, "also write the report as JUnit XML")->type_name("FILE");
  app.add_option("--trace", m_options.trace,
                 "every call between host and module, both directions, as JSON lines")
      ->type_name("FILE");
  app.add_flag("--in-process", m_options.in_process,
               "run the checks in this process (for a debugger; a crash ends "
               "the run)");
  // A check's own process: started by another qxhost validate, never by hand.
  app.add_option("--run-check", m_run_check)->group("");
  app.add_option("MODULE", m_options.modules, "module files")->required();
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
