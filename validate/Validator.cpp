#include "Validator.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <regex>
#include <thread>
#include <utility>

#include "CheckCatalog.h"
#include "ChildReport.h"
#include "ChildRunner.h"
#include "FilePath.h"
#include "MemoryChecker.h"
#include "ReportChannel.h"
#include "RunDefaults.h"
#include "SteadyClock.h"
#include "TextFormat.h"
#include "TraceWriter.h"
#include "ValidationReport.h"

namespace {

const char EXPORTS_CHECK[] = "loading.exports";
const char LOADING_GROUP[] = "loading.";

CheckResult Crash(const std::string& text) {
  CheckResult result = CheckResult::Fail(text);
  result.status = CheckStatus::CRASH;
  return result;
}

bool IsLoading(const ValidationCheck& check) {
  return std::strncmp(check.name, LOADING_GROUP, sizeof LOADING_GROUP - 1) == 0;
}

bool Broke(const CheckResult& result) {
  return result.status == CheckStatus::CRASH || result.status == CheckStatus::TIMEOUT;
}

}  // namespace

Validator::Validator(Options options, std::vector<const ValidationCheck*> checks, std::ostream& out,
                     std::ostream& err)
    : m_options(std::move(options)), m_checks(std::move(checks)), m_out(out), m_err(err) {}

Validator::~Validator() {
  if (m_junit != nullptr) std::fclose(m_junit);
}

bool Validator::Select(const Options& options, std::vector<const ValidationCheck*>* checks,
                       std::string* error) {
  std::regex include, exclude;
  for (const auto& pattern :
       {std::make_pair(&options.include, &include), std::make_pair(&options.exclude, &exclude)}) {
    if (pattern.first->empty()) continue;
    try {
      *pattern.second = std::regex(*pattern.first);
    } catch (const std::regex_error&) {
      *error = "not a regular expression: '" + *pattern.first + "'";
      return false;
    }
  }
  checks->clear();
  for (const ValidationCheck& check : CheckCatalog::All()) {
    if (check.level > options.strictness) continue;
    if (!options.include.empty() && !std::regex_search(check.name, include)) continue;
    if (!options.exclude.empty() && std::regex_search(check.name, exclude)) continue;
    checks->push_back(&check);
  }
  // A filter with a typo must not pass a module unchecked.
  if (checks->empty()) {
    *error = "--include, --exclude and --strictness select no check (see 'qxhost list-checks')";
    return false;
  }
  return true;
}

CheckResult Validator::RunHere(const ValidationCheck& check, CheckContext& context) {
  try {
    return check.run(context);
  } catch (const std::exception& e) {
    return Crash(std::string("exception: ") + e.what());
  } catch (...) {
    return Crash("an exception of unknown type");
  }
}

int Validator::RunChild(const std::string& name, const std::string& module, uint64_t seed, int size,
                        const std::string& trace_path, const ChildRequest& request) {
  ReportChannel channel, calls;
  if (!channel.Open(request.results) || !calls.Open(request.calls)) return USAGE;
  const std::string& token = request.token;
  const auto report = [&](const CheckResult& result) {
    channel.Write(ChildReport::ResultLine(token, result));
  };
  const ValidationCheck* check = CheckCatalog::Find(name);
  if (check == nullptr) {
    report(Crash("no check named '" + name + "'"));
    return USAGE;
  }
  TraceWriter trace;
  std::string error;
  if (!trace_path.empty() && !trace.Open(trace_path, true, &error)) {
    report(Crash(error));
    return USAGE;
  }
  trace.ReportCallsTo(&calls);
  trace.Start(name, module);
  CheckContext context(module, seed, size, &trace);
  report(RunHere(*check, context));
  trace.Close();
  return trace.Failed() ? TRACE_NOT_WRITTEN : ALL_PASSED;
}

ChildRequest Validator::Request(const ValidationCheck& check, const std::string& module, uint64_t seed,
                                bool traced) const {
  ChildRequest request;
  request.token = m_token;
  request.args = {"validate",
                  "--run-check",
                  check.name,
                  "--seed",
                  std::to_string(seed),
                  "--size",
                  std::to_string(m_options.size)};
  if (traced && !m_trace_path.empty()) {
    request.args.push_back("--trace");
    request.args.push_back(m_trace_path);
  }
  request.args.push_back("--");
  request.args.push_back(module);
  return request;
}

CheckResult Validator::Classify(const ChildRunner::Outcome& outcome) {
  CheckResult result = ChildReport::Classify(outcome, m_token, m_options.timeout);
  // Only after a result: a process that ended before it is the module's.
  const bool reported = result.status != CheckStatus::CRASH && result.status != CheckStatus::TIMEOUT;
  if (outcome.end == ChildRunner::End::EXITED && outcome.code == TRACE_NOT_WRITTEN && reported)
    m_child_trace_failed = true;
  return result;
}

CheckResult Validator::Explained(const ValidationCheck& check, const std::string& module, uint64_t seed,
                                 const ChildRunner::Outcome& outcome) {
  CheckResult result = Classify(outcome);
  if (result.status != CheckStatus::CRASH || outcome.end != ChildRunner::End::SIGNALLED) return result;
  // The run's trace is not written again.
  const std::string explained =
      MemoryChecker::Explain(m_options.program, m_options.timeout, Request(check, module, seed, false));
  if (!explained.empty()) result.message += "\n" + explained;
  return result;
}

CheckResult Validator::RunOne(const ValidationCheck& check, const std::string& module, uint64_t seed,
                              TraceWriter* trace) {
  if (!m_options.in_process)
    return Explained(check, module, seed,
                     ChildRunner::Run(ChildRunner::Command(m_options.program), m_options.timeout,
                                      Request(check, module, seed)));
  const auto began = SteadyClock::now();
  trace->Start(check.name, module);
  CheckContext context(module, seed, m_options.size, trace);
  CheckResult result = RunHere(check, context);
  result.seconds = SecondsSince(began);
  return result;
}

std::string Validator::RunPhase(const std::vector<const ValidationCheck*>& checks, const std::string& module,
                                uint64_t seed, TraceWriter* trace, bool stop_at_crash, const Record& record) {
  std::string stopped;  // why the checks not yet started will not run
  const auto note = [&](const ValidationCheck& check, const CheckResult& result) {
    if (stop_at_crash && stopped.empty() && Broke(result))
      stopped = std::string("not run: ") + check.name + " " + CheckResult::StatusName(result.status);
  };
  if (m_options.in_process || m_options.jobs <= 1) {
    for (const ValidationCheck* check : checks) {
      if (!stopped.empty()) {
        record(*check, CheckResult::Skip(stopped));
        continue;
      }
      const CheckResult result = RunOne(*check, module, seed, trace);
      note(*check, result);
      record(*check, result);
    }
    return stopped;
  }

  struct Child {
    size_t index;
    ChildRunner runner;
  };
  std::vector<std::unique_ptr<Child>> running;
  std::vector<std::unique_ptr<CheckResult>> results(checks.size());
  size_t started = 0, reported = 0;
  const size_t jobs = static_cast<size_t>(m_options.jobs);
  while (reported < checks.size()) {
    while (running.size() < jobs && started < checks.size()) {
      if (!stopped.empty()) {
        results[started++] = std::make_unique<CheckResult>(CheckResult::Skip(stopped));
        continue;
      }
      running.push_back(std::make_unique<Child>());
      running.back()->index = started;
      running.back()->runner.Start(ChildRunner::Command(m_options.program), m_options.timeout,
                                   Request(*checks[started], module, seed));
      ++started;
    }
    bool progress = false;
    for (auto it = running.begin(); it != running.end();) {
      ChildRunner::Outcome outcome;
      if ((*it)->runner.Poll(&outcome)) {
        const size_t index = (*it)->index;
        results[index] = std::make_unique<CheckResult>(Explained(*checks[index], module, seed, outcome));
        note(*checks[index], *results[index]);
        it = running.erase(it);
        progress = true;
      } else {
        ++it;
      }
    }
    for (; reported < checks.size() && results[reported] != nullptr; ++reported)
      record(*checks[reported], *results[reported]);
    if (!progress && !running.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return stopped;
}

bool Validator::OpenReports(TraceWriter* trace) {
  // A report is never written over a module: refused before anything is.
  const struct {
    const std::string& path;
    const std::string& given;
    const char* option;
  } reports[] = {{m_junit_path, m_options.junit, "--junit"}, {m_trace_path, m_options.trace, "--trace"}};
  for (const auto& report : reports) {
    if (report.path.empty()) continue;
    for (size_t m = 0; m < m_module_paths.size(); ++m) {
      if (report.path == m_module_paths[m] || FilePath::SameFile(report.path, m_module_paths[m])) {
        m_err << "qxhost: " << report.option << " " << TextFormat::Printable(report.given)
              << " is the module " << TextFormat::Printable(m_options.modules[m])
              << ": a report is never written over a module\n";
        return false;
      }
    }
  }
  if (!m_junit_path.empty() &&
      (m_junit_path == m_trace_path || FilePath::SameFile(m_junit_path, m_trace_path))) {
    m_err << "qxhost: --junit and --trace name the same file, " << TextFormat::Printable(m_options.junit)
          << "\n";
    return false;
  }
  if (!m_junit_path.empty()) {
    m_junit = std::fopen(m_junit_path.c_str(), "w");
    // The declaration now: a file that takes nothing fails before any check.
    const bool written = m_junit != nullptr &&
                         std::fputs(ValidationReport::JUNIT_DECLARATION, m_junit) >= 0 &&
                         std::fflush(m_junit) == 0;
    if (!written) {
      m_err << "qxhost: " << TextFormat::Printable(m_options.junit) << ": cannot write the JUnit report ("
            << std::strerror(errno) << ")\n";
      return false;
    }
  }
  if (!m_trace_path.empty()) {
    std::string error;
    if (!trace->Open(m_trace_path, false, &error) ||
        !trace->StartRun(m_options.modules, m_options.seed, &error)) {
      m_err << "qxhost: " << TextFormat::Printable(error) << "\n";
      return false;
    }
    if (!m_options.in_process) trace->Close();  // each child appends to it
    if (trace->Failed()) {
      m_err << "qxhost: " << TextFormat::Printable(trace->Error()) << "\n";
      return false;
    }
  }
  m_junit_file = FilePath::Identity(m_junit_path);
  m_trace_file = FilePath::Identity(m_trace_path);
  return true;
}

bool Validator::Replaced(const std::string& path, const std::string& file, const std::string& given,
                         const char* option) {
  if (path.empty() || FilePath::Identity(path) == file) return false;
  m_err << "qxhost: " << option << " " << TextFormat::Printable(given)
        << " is no longer the file this run wrote: another file took its place while the checks ran\n";
  return true;
}

bool Validator::ReportsWritten(const TraceWriter& trace) {
  if (m_trace_path.empty()) return true;
  if (Replaced(m_trace_path, m_trace_file, m_options.trace, "--trace")) return false;
  if (trace.Failed()) {
    m_err << "qxhost: " << TextFormat::Printable(trace.Error()) << "\n";
    return false;
  }
  if (m_child_trace_failed) {
    m_err << "qxhost: " << TextFormat::Printable(m_trace_path)
          << ": cannot write the trace (a check's process could not write its calls to it)\n";
    return false;
  }
  return true;
}

void Validator::RunRound(const std::string& path, uint64_t seed, TraceWriter* trace, const Record& record,
                         bool* unloadable) {
  const ValidationCheck* exports = CheckCatalog::Find(EXPORTS_CHECK);
  // The exports come first and alone, selected or not: without them
  // nothing else runs.
  const bool selected = !m_checks.empty() && m_checks.front() == exports;
  const CheckResult gate = RunOne(*exports, path, seed, trace);
  if (gate.unloadable) *unloadable = true;
  if (selected || gate.Failed()) record(*exports, gate);
  std::vector<const ValidationCheck*> loading, rest;
  for (const ValidationCheck* check : m_checks) {
    if (check != exports) (IsLoading(*check) ? loading : rest).push_back(check);
  }
  // A check that passes only after another ran shows in another order; the
  // order comes from the round's seed, so --seed repeats it.
  if (m_options.shuffle) {
    std::mt19937_64 order(seed);
    std::shuffle(loading.begin(), loading.end(), order);
    std::shuffle(rest.begin(), rest.end(), order);
  }
  if (gate.stop || gate.Failed()) {
    const CheckResult skipped = CheckResult::Skip(std::string("not run: ") + EXPORTS_CHECK + " " +
                                                  CheckResult::StatusName(gate.status));
    for (const auto* phase : {&loading, &rest})
      for (const ValidationCheck* check : *phase) record(*check, skipped);
    return;
  }
  // Then the rest of loading: a module that crashes or hangs there cannot
  // be asked for anything, so its other checks are not run.
  const std::string stopped = RunPhase(loading, path, seed, trace, true, record);
  if (!stopped.empty()) {
    for (const ValidationCheck* check : rest) record(*check, CheckResult::Skip(stopped));
    return;
  }
  RunPhase(rest, path, seed, trace, false, record);
}

int Validator::Run() {
  const auto start = SteadyClock::now();
  RunDefaults::Fill(&m_options);
  m_token = ChildReport::NewToken();
  // Every path as a file before any module is loaded: a module that changes
  // the working folder (in this process, with --in-process) moves nothing.
  m_module_paths.clear();
  for (const std::string& path : m_options.modules) m_module_paths.push_back(FilePath::Absolute(path));
  m_junit_path = FilePath::Absolute(m_options.junit);
  m_trace_path = FilePath::Absolute(m_options.trace);
  TraceWriter trace;
  // Every report can be written, or nothing runs.
  if (!OpenReports(&trace)) return USAGE;
  if (!m_options.in_process) ChildRunner::EndChildrenOnSignals();

  ValidationReport report(m_options.seed, m_options.size, m_options.timeout);
  for (size_t m = 0; m < m_options.modules.size(); ++m) {
    const std::string& path = m_options.modules[m];
    if (!m_options.json)
      m_out << "validate " << TextFormat::Printable(path) << " (seed " << m_options.seed << ", size "
            << m_options.size << ")\n";
    ValidationReport::Module& module = report.AddModule(path);
    for (int round = 0; round < m_options.repeat; ++round) {
      const uint64_t seed = m_options.seed + static_cast<uint64_t>(round);
      if (!m_options.json && (round > 0 || m_options.repeat > 1 || m_options.shuffle))
        m_out << "round " << round + 1 << " of " << m_options.repeat << " (seed " << seed
              << (m_options.shuffle ? ", shuffled" : "") << ")\n";
      const Record record = [&](const ValidationCheck& check, CheckResult result) {
        if (m_options.strict && result.status == CheckStatus::WARN) {
          result.status = CheckStatus::FAIL;
          result.message = "a warning, which --strict fails: " + result.message;
        }
        module.entries.push_back(ValidationReport::Entry{check.name, check.randomised, seed, result});
        if (!m_options.json && (!m_options.only_failed || result.Failed()))
          m_out << report.Line(module.entries.back());
        m_out.flush();
      };
      RunRound(m_module_paths[m], seed, &trace, record, &module.unloadable);
    }
  }

  bool any_loadable = false;
  for (const auto& module : report.Modules()) any_loadable = any_loadable || !module.unloadable;
  const int code = !any_loadable ? USAGE
                   : report.Count(CheckStatus::FAIL) + report.Count(CheckStatus::CRASH) +
                               report.Count(CheckStatus::TIMEOUT) >
                           0
                       ? FAILED
                       : ALL_PASSED;
  const double seconds = SecondsSince(start);
  if (!any_loadable) m_err << "qxhost: no loadable module\n";
  if (m_options.json) report.WriteJson(m_out, code, seconds);
  (m_options.json ? m_err : m_out) << report.Summary(seconds);
  trace.Close();
  const bool traced = ReportsWritten(trace);
  if (m_junit != nullptr) {
    // The rest: the declaration is written.
    const std::string junit = report.Junit(seconds).substr(std::strlen(ValidationReport::JUNIT_DECLARATION));
    const bool written = std::fwrite(junit.data(), 1, junit.size(), m_junit) == junit.size();
    const bool closed = std::fclose(m_junit) == 0;
    m_junit = nullptr;
    if (!written || !closed) {
      m_err << "qxhost: " << TextFormat::Printable(m_options.junit) << ": cannot write the JUnit report ("
            << std::strerror(errno) << ")\n";
      return USAGE;
    }
    if (Replaced(m_junit_path, m_junit_file, m_options.junit, "--junit")) return USAGE;
  }
  return traced ? code : USAGE;
}
