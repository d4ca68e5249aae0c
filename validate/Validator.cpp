#include "Validator.h"

#include <chrono>
#include <memory>
#include <thread>
#include <cstdio>
#include <utility>
#include <random>
#include <regex>

#include "CheckCatalog.h"
#include "ChildRunner.h"
#include "TraceWriter.h"
#include "ValidationReport.h"

namespace {

const char RESULT_MARKER[] = "@qxresult ";
const char EXPORTS_CHECK[] = "loading.exports";

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

CheckResult Crash(const std::string& text) {
  CheckResult result = CheckResult::Fail(text);
  result.status = CheckStatus::CRASH;
  return result;
}

// The line of a module's output that says best why its process ended.
std::string Headline(const std::string& output) {
  static const char* const CRASH_MARKERS[] = {"Assertion failed", "ERROR: AddressSanitizer", "runtime error",
                                         "terminate called", "AddressSanitizer", "Sanitizer"};
  for (const char* marker : CRASH_MARKERS) {
    const size_t at = output.find(marker);
    if (at == std::string::npos) continue;
    const size_t start = output.rfind('\n', at);
    const size_t begin = start == std::string::npos ? 0 : start + 1;
    const size_t end = output.find('\n', at);
    return output.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
  }
  return "";
}

// Line breaks as "\n" alone (a Windows child writes "\r\n" in text mode).
std::string Lines(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' || i + 1 == text.size() || text[i + 1] != '\n') out += text[i];
  }
  return out;
}

std::string Escape(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out += c;
    }
  }
  return out;
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char c = text[++i];
    out += c == 'n' ? '\n' : c == 'r' ? '\r' : c;
  }
  return out;
}

}  // namespace

Validator::Validator(Options options, std::vector<const ValidationCheck*> checks, std::ostream& out,
                     std::ostream& err)
    : m_options(std::move(options)), m_checks(std::move(checks)), m_out(out), m_err(err) {}

bool Validator::Select(const Options& options, std::vector<const ValidationCheck*>* checks, std::string* error) {
  std::regex include, exclude;
  for (const auto& pattern : {std::make_pair(&options.include, &include), std::make_pair(&options.exclude, &exclude)}) {
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
    if (!options.include.empty() && !std::regex_search(check.name, include)) continue;
    if (!options.exclude.empty() && std::regex_search(check.name, exclude)) continue;
    checks->push_back(&check);
  }
  return true;
}

std::string Validator::ResultLine(const CheckResult& result) {
  return std::string(RESULT_MARKER) + CheckResult::StatusName(result.status) + " " + (result.stop ? "1" : "0") + " " +
         (result.unloadable ? "1" : "0") + " " + Escape(result.message) + "\n";
}

bool Validator::ParseResult(const std::string& out, CheckResult* result, std::string* rest) {
  // The last line that begins with the marker; the module may print anything.
  size_t at = std::string::npos;
  for (size_t line = 0; line < out.size();) {
    if (out.compare(line, sizeof RESULT_MARKER - 1, RESULT_MARKER) == 0) at = line;
    const size_t end = out.find('\n', line);
    if (end == std::string::npos) break;
    line = end + 1;
  }
  *rest = out;
  if (at == std::string::npos) return false;
  const size_t end = out.find('\n', at);
  const size_t start = at + sizeof RESULT_MARKER - 1;
  const std::string line = out.substr(start, end == std::string::npos ? std::string::npos : end - start);
  const size_t s1 = line.find(' ');
  CheckStatus status;
  if (s1 == std::string::npos || line.size() < s1 + 5 || !CheckResult::ParseStatus(line.substr(0, s1), &status))
    return false;
  *rest = out.substr(0, at) + (end == std::string::npos ? "" : out.substr(end + 1));
  result->status = status;
  result->stop = line[s1 + 1] == '1';
  result->unloadable = line[s1 + 3] == '1';
  result->message = Unescape(line.size() > s1 + 5 ? line.substr(s1 + 5) : "");
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
                        const std::string& trace_path, std::ostream& out) {
  const ValidationCheck* check = CheckCatalog::Find(name);
  if (check == nullptr) {
    out << ResultLine(Crash("no check named '" + name + "'")) << std::flush;
    return USAGE;
  }
  TraceWriter trace;
  std::string error;
  if (!trace_path.empty() && !trace.Open(trace_path, true, &error)) {
    out << ResultLine(Crash(error)) << std::flush;
    return USAGE;
  }
  trace.Start(name, module);
  CheckContext context(module, seed, size, &trace);
  const CheckResult result = RunHere(*check, context);
  out << ResultLine(result) << std::flush;
  return ALL_PASSED;
}

std::vector<std::string> Validator::ChildCommand(const ValidationCheck& check, const std::string& module) const {
  // Through the launcher, if any: a 32-bit qxhost under an emulator runs its
  // children under that emulator too, whatever the kernel could run itself.
  std::vector<std::string> command = ChildRunner::Launcher();
  const std::vector<std::string> own = {m_options.program, "validate", "--run-check", check.name, "--seed",
                                        std::to_string(m_options.seed), "--size", std::to_string(m_options.size)};
  command.insert(command.end(), own.begin(), own.end());
  if (!m_options.trace.empty()) {
    command.push_back("--trace");
    command.push_back(m_options.trace);
  }
  command.push_back("--");
  command.push_back(module);
  return command;
}

CheckResult Validator::Classify(const ChildRunner::Outcome& outcome) const {
  CheckResult result;
  std::string rest;
  const bool answered = ParseResult(Lines(outcome.out), &result, &rest);
  const std::string output = rest + Lines(outcome.err);
  const std::string headline = Headline(output);
  const std::string because = headline.empty() ? "" : ": " + headline;
  switch (outcome.end) {
    case ChildRunner::End::NOT_STARTED:
      result = Crash("could not run the check: " + outcome.error);
      break;
    case ChildRunner::End::TIMED_OUT: {
      char text[64];
      std::snprintf(text, sizeof text, "no result within %g s; the check's process was killed", m_options.timeout);
      result = CheckResult::Fail(text);
      result.status = CheckStatus::TIMEOUT;
      break;
    }
    case ChildRunner::End::SIGNALLED:
      result = Crash("the check's process died of " + ChildRunner::SignalName(outcome.code) + because);
      break;
    case ChildRunner::End::EXITED:
      if (!answered)
        result = Crash("the check's process exited with status " + std::to_string(outcome.code) +
                       " before giving a result" + because);
      break;
  }
  result.output = output;
  result.seconds = outcome.seconds;
  return result;
}

CheckResult Validator::RunOne(const ValidationCheck& check, const std::string& module, TraceWriter* trace) {
  if (!m_options.in_process) return Classify(ChildRunner::Run(ChildCommand(check, module), m_options.timeout));
  const auto began = Clock::now();
  trace->Start(check.name, module);
  CheckContext context(module, m_options.seed, m_options.size, trace);
  CheckResult result = RunHere(check, context);
  result.seconds = Since(began);
  return result;
}

void Validator::RunMany(const std::vector<const ValidationCheck*>& checks, const std::string& module,
                        const std::function<void(const ValidationCheck&, const CheckResult&)>& done) {
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
      running.push_back(std::make_unique<Child>());
      running.back()->index = started;
      running.back()->runner.Start(ChildCommand(*checks[started], module), m_options.timeout);
      ++started;
    }
    bool progress = false;
    for (auto it = running.begin(); it != running.end();) {
      ChildRunner::Outcome outcome;
      if ((*it)->runner.Poll(&outcome)) {
        results[(*it)->index] = std::make_unique<CheckResult>(Classify(outcome));
        it = running.erase(it);
        progress = true;
      } else {
        ++it;
      }
    }
    for (; reported < checks.size() && results[reported] != nullptr; ++reported) done(*checks[reported], *results[reported]);
    if (!progress) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

int Validator::Run() {
  const auto start = Clock::now();
  std::string error;
  if (!m_options.seed_given) {
    std::random_device device;
    m_options.seed = (static_cast<uint64_t>(device()) << 32 | device()) % 1000000000000ull;
  }
  if (m_options.program.empty()) m_options.program = ChildRunner::SelfPath();
  if (m_options.jobs <= 0) {
    const unsigned processors = std::thread::hardware_concurrency();
    m_options.jobs = processors == 0 ? 1 : processors > 8 ? 8 : static_cast<int>(processors);
  }
  TraceWriter trace;
  if (!m_options.trace.empty()) {
    if (!trace.Open(m_options.trace, false, &error)) {
      m_err << "qxhost: " << error << "\n";
      return USAGE;
    }
    if (!m_options.in_process) trace.Close();  // each child appends to it
  }

  const ValidationCheck* exports = CheckCatalog::Find(EXPORTS_CHECK);
  ValidationReport report(m_options.seed, m_options.size, m_options.timeout);
  for (const std::string& path : m_options.modules) {
    if (!m_options.json)
      m_out << "validate " << path << " (seed " << m_options.seed << ", size " << m_options.size << ")\n";
    ValidationReport::Module& module = report.AddModule(path);
    // The exports come first, selected or not: without them nothing else runs.
    std::vector<const ValidationCheck*> order = m_checks;
    const bool probe = order.empty() || order.front() != exports;
    if (probe) order.insert(order.begin(), exports);
    const auto record = [&](const ValidationCheck& check, const CheckResult& result) {
      module.entries.push_back(ValidationReport::Entry{check.name, check.randomised, result});
      if (!m_options.json && (!m_options.only_failed || result.Failed())) m_out << report.Line(module.entries.back());
      m_out.flush();
    };
    // The exports first and alone: if they fail, nothing else runs.
    const CheckResult gate = RunOne(*exports, path, &trace);
    if (gate.unloadable) module.unloadable = true;
    if (!probe || gate.Failed()) record(*exports, gate);
    order.erase(order.begin());
    if (gate.stop || gate.Failed()) {
      const std::string stopped = std::string("not run: ") + EXPORTS_CHECK + " " + CheckResult::StatusName(gate.status);
      for (const ValidationCheck* check : order) record(*check, CheckResult::Skip(stopped));
    } else if (m_options.in_process || m_options.jobs <= 1) {
      for (const ValidationCheck* check : order) record(*check, RunOne(*check, path, &trace));
    } else {
      RunMany(order, path, record);
    }
  }

  bool any_loadable = false;
  for (const auto& module : report.Modules()) any_loadable = any_loadable || !module.unloadable;
  const int code = !any_loadable ? USAGE
                   : report.Count(CheckStatus::FAIL) + report.Count(CheckStatus::CRASH) +
                             report.Count(CheckStatus::TIMEOUT) > 0
                       ? FAILED
                       : ALL_PASSED;
  const double seconds = Since(start);
  if (!any_loadable) m_err << "qxhost: no loadable module\n";
  if (m_options.json) report.WriteJson(m_out, code, seconds);
  if (!m_options.junit.empty() && !report.WriteJunit(m_options.junit, seconds, &error)) {
    m_err << "qxhost: " << error << "\n";
  }
  (m_options.json ? m_err : m_out) << report.Summary(seconds);
  return code;
}
