#include "Fuzzer.h"

#include <chrono>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "CheckContext.h"
#include "ChildReport.h"
#include "ChildRunner.h"
#include "CrashStack.h"
#include "FilePath.h"
#include "FuzzEpisode.h"
#include "MemoryChecker.h"
#include "ReportChannel.h"
#include "RunDefaults.h"
#include "SteadyClock.h"
#include "TextFormat.h"
#include "TraceWriter.h"

Fuzzer::Fuzzer(Options options, std::ostream& out, std::ostream& err)
    : m_options(std::move(options)),
      m_out(out),
      m_err(err),
      m_token(ChildReport::NewToken()),
      m_module_path(FilePath::Absolute(m_options.module)) {
  RunDefaults::Fill(&m_options);
}

int Fuzzer::RunEpisode(const std::string& module, uint64_t seed, int steps, const ChildRequest& request,
                       bool say, std::ostream& out) {
  ReportChannel channel, calls;
  if (!channel.Open(request.results) || !calls.Open(request.calls)) return USAGE;
  const std::string& token = request.token;
  TraceWriter trace;
  trace.ReportCallsTo(&calls);
  CheckContext context(module, seed, 64, &trace);
  std::function<void(const std::string&)> said;
  if (say) said = [&out](const std::string& line) { out << line << std::endl; };
  CheckResult result;
  try {
    result = FuzzEpisode(context, seed, steps, said).Run();
  } catch (const std::exception& e) {
    result = CheckResult::Fail(std::string("exception: ") + e.what());
    result.status = CheckStatus::CRASH;
  }
  channel.Write(ChildReport::ResultLine(token, result));
  return CLEAN;
}

ChildRequest Fuzzer::Request(uint64_t seed, int steps, bool say) const {
  ChildRequest request;
  request.token = m_token;
  request.args = {"fuzz", "--run-episode", "--seed", std::to_string(seed), "--steps", std::to_string(steps)};
  if (say) request.args.push_back("--replay");
  request.args.push_back("--");
  request.args.push_back(m_module_path);
  return request;
}

CheckResult Fuzzer::Episode(uint64_t seed, int steps, bool say, std::string* steps_said,
                            ChildRunner::End* end) {
  const ChildRunner::Outcome outcome =
      ChildRunner::Run(ChildRunner::Command(m_options.program), m_options.timeout, Request(seed, steps, say));
  if (steps_said != nullptr) *steps_said = outcome.out;
  if (end != nullptr) *end = outcome.end;
  return ChildReport::Classify(outcome, m_token, m_options.timeout, "episode");
}

int Fuzzer::Replay() {
  ChildRunner::EndChildrenOnSignals();
  std::string said;
  const CheckResult result = Episode(m_options.seed, m_options.steps, true, &said);
  // The episode's process prints the steps and whatever the module prints.
  m_out << TextFormat::Printable(said, true);
  m_out << "episode (seed " << m_options.seed << ", " << m_options.steps
        << " steps): " << CheckResult::StatusName(result.status)
        << (result.message.empty() ? "" : " " + TextFormat::Printable(result.message)) << "\n";
  return result.Failed() ? FOUND : result.status == CheckStatus::SKIP ? USAGE : CLEAN;
}

int Fuzzer::Run() {
  ChildRunner::EndChildrenOnSignals();
  const auto start = SteadyClock::now();
  m_out << "fuzz " << TextFormat::Printable(m_options.module) << " (seed " << m_options.seed << ", "
        << m_options.steps << " steps an episode, "
        << TextFormat::Float(static_cast<float>(m_options.duration)) << " s, " << m_options.jobs
        << " jobs)\n";
  struct Running {
    uint64_t seed;
    ChildRunner runner;
  };
  std::vector<std::unique_ptr<Running>> running;
  uint64_t next = m_options.seed, episodes = 0;
  bool found = false, unusable = false;
  uint64_t found_seed = 0;
  CheckResult finding;
  ChildRunner::End ended = ChildRunner::End::EXITED;  // how the shortest run found so far ended
  while (!running.empty() || (!found && !unusable && SecondsSince(start) < m_options.duration)) {
    while (!found && !unusable && SecondsSince(start) < m_options.duration &&
           running.size() < static_cast<size_t>(m_options.jobs)) {
      running.push_back(std::make_unique<Running>());
      running.back()->seed = next++;
      running.back()->runner.Start(ChildRunner::Command(m_options.program), m_options.timeout,
                                   Request(running.back()->seed, m_options.steps, false));
    }
    bool progress = false;
    for (auto it = running.begin(); it != running.end();) {
      ChildRunner::Outcome outcome;
      if (!(*it)->runner.Poll(&outcome)) {
        ++it;
        continue;
      }
      const CheckResult result = ChildReport::Classify(outcome, m_token, m_options.timeout, "episode");
      ++episodes;
      if (result.status == CheckStatus::SKIP && !unusable) {
        unusable = true;
        finding = result;
      } else if (result.Failed() && !found) {
        found = true;
        found_seed = (*it)->seed;
        finding = result;
        ended = outcome.end;
      }
      it = running.erase(it);
      progress = true;
    }
    if (!progress) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (unusable && !found) {
    m_err << "qxhost: " << TextFormat::Printable(m_options.module) << ": "
          << TextFormat::Printable(finding.message) << "\n";
    return USAGE;
  }
  if (found) {
    m_out << "finding in episode " << found_seed << ": " << CheckResult::StatusName(finding.status) << " "
          << TextFormat::Printable(finding.message) << "\n";
    // The fewest first steps that still end the same way; an episode's first
    // steps are the same whatever their number.
    int low = 1, high = m_options.steps;
    CheckResult shortest = finding;
    while (low < high) {
      const int middle = low + (high - low) / 2;
      ChildRunner::End end = ChildRunner::End::EXITED;
      CheckResult tried = Episode(found_seed, middle, false, nullptr, &end);
      if (tried.status == finding.status) {
        high = middle;
        ended = end;
        shortest = std::move(tried);
      } else {
        low = middle + 1;
      }
    }
    m_out << "shortest replay (" << high << " of " << m_options.steps << " steps): qxhost fuzz --seed "
          << found_seed << " --steps " << high << " --replay " << TextFormat::Printable(m_options.module)
          << "\n";
    // A crash's cause may lie earlier than where it crashed (heap damage);
    // a process that ended itself with a status did not crash there.
    if (finding.status == CheckStatus::CRASH && ended == ChildRunner::End::SIGNALLED) {
      const std::string explained =
          MemoryChecker::Explain(m_options.program, m_options.timeout, Request(found_seed, high, false));
      // Where no memory checker runs, the replay's process wrote its stack.
      const size_t stack = shortest.output.find(std::string("qxhost: ") + CrashStack::HEADER);
      if (!explained.empty()) {
        m_out << TextFormat::Printable(explained, true) << "\n";
      } else if (stack != std::string::npos) {
        std::string written = shortest.output.substr(stack);
        while (!written.empty() && written.back() == '\n') written.pop_back();
        m_out << TextFormat::Printable(written, true) << "\n";
      }
    }
  }
  char summary[160];
  std::snprintf(summary, sizeof summary, "fuzz: %llu episodes, %llu steps, %d finding%s (%.1f s)\n",
                static_cast<unsigned long long>(episodes),
                static_cast<unsigned long long>(episodes) * static_cast<unsigned long long>(m_options.steps),
                found ? 1 : 0, found ? "" : "s", SecondsSince(start));
  m_out << summary;
  return found ? FOUND : CLEAN;
}
