#include "ThreadChecks.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

#include "GuiChecks.h"
#include "HostHarness.h"
#include "InstanceRun.h"

namespace {

using Pins = std::vector<CheckContext::Pin>;
// What two GUI instances gave, edit by edit: every pin, as words.
using Steps = std::vector<std::vector<uint32_t>>;

constexpr int32_t BLOCK = 64;

// Lets the DSP threads take each block together, so that their instances'
// calls interleave for certain rather than by chance.
class Lockstep {
 public:
  explicit Lockstep(int threads) : m_threads(threads) {}
  void Arrive() {
    std::unique_lock<std::mutex> lock(m_mutex);
    const int generation = m_generation;
    if (++m_arrived == m_threads) {
      m_arrived = 0;
      ++m_generation;
      m_all.notify_all();
      return;
    }
    m_all.wait(lock, [&] { return m_generation != generation; });
  }
  // A thread that stops early no longer holds the others back.
  void Leave() {
    std::lock_guard<std::mutex> lock(m_mutex);
    --m_threads;
    if (m_arrived >= m_threads && m_arrived > 0) {
      m_arrived = 0;
      ++m_generation;
      m_all.notify_all();
    }
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_all;
  int m_threads;
  int m_arrived = 0;
  int m_generation = 0;
};

// One DSP instance, described and opened, through `blocks` blocks of the
// signal every instance gets; with `lockstep`, each block waits for the other
// threads' blocks.
InstanceRun RunDsp(HostHarness& harness, int32_t pin_count, int blocks, Lockstep* lockstep,
                   std::string* error) {
  InstanceRun run;
  InstanceRun::Layout layout;
  const int id = InstanceRun::OpenDsp(harness, pin_count, BLOCK, &layout);
  if (id < 0) {
    *error = "makeModule(0, 1) gives no usable DSP instance";
    return run;
  }
  for (int block = 0; block < blocks; ++block) {
    if (lockstep != nullptr) lockstep->Arrive();
    run.RunBlock(harness.Dsp(id), layout, block, BLOCK);
  }
  harness.Close(id);
  return run;
}

// Two GUI instances edited in turn; after each edit, both instances' pins.
Steps RunGui(HostHarness& harness, const Pins& pins, const std::vector<float>& start,
             const std::vector<GuiChecks::Edit>& edits, std::string* error) {
  Steps steps;
  const int a = GuiChecks::NewInstance(harness, pins, GuiHost::Echo::NONE, start);
  const int b = GuiChecks::NewInstance(harness, pins, GuiHost::Echo::NONE, start);
  if (a < 0 || b < 0) {
    *error = "makeModule(0, 2) gives no two usable GUI instances";
    return steps;
  }
  for (size_t k = 0; k < edits.size(); ++k) {
    const int id = k % 2 == 0 ? a : b;
    GuiChecks::Apply(harness, id, pins, edits[k]);
    steps.push_back(GuiChecks::Snapshot(harness, id, pins.size()));
  }
  harness.Close(b);
  harness.Close(a);
  return steps;
}

// The first step at which `got` differs from `expected`; -1 if none.
long FirstDifference(const Steps& expected, const Steps& got) {
  for (size_t i = 0; i < expected.size() || i < got.size(); ++i) {
    if (i >= expected.size() || i >= got.size() || expected[i] != got[i]) return static_cast<long>(i);
  }
  return -1;
}

}  // namespace

void ThreadChecks::Add(std::vector<ValidationCheck>* checks) {
  checks->push_back(
      {"threads.instances",
       "DSP instances processing on threads of their own at once, GUI instances edited on another: "
       "each gives what it gives alone",
       true, true, &Instances, 3});
}

CheckResult ThreadChecks::Instances(CheckContext& context) {
  CheckResult result;
  Pins pins;
  if (!context.Prepare(&pins, &result)) return result;
  const int32_t pin_count = PinDescription::DspCount(pins);
  const int blocks = 8 + context.Size() / 4;
  std::vector<float> start;
  std::vector<GuiChecks::Edit> edits;
  if (!pins.empty()) {
    for (size_t i = 0; i < pins.size(); ++i) start.push_back(GuiChecks::RandomValue(context.Random()));
    std::uniform_int_distribution<int32_t> pin(0, static_cast<int32_t>(pins.size()) - 1);
    for (int k = 0; k < 8 + context.Size() / 2; ++k)
      edits.push_back({pin(context.Random()), GuiChecks::RandomValue(context.Random())});
  }
  const QXMakeModuleFunction make_module = context.MakeModuleExport();

  // Alone: each instance on this thread, one after the other.
  std::string error;
  std::vector<InstanceRun> alone(DSP_THREADS);
  for (int i = 0; i < DSP_THREADS; ++i) {
    HostHarness harness(make_module, context.Trace());
    alone[static_cast<size_t>(i)] = RunDsp(harness, pin_count, blocks, nullptr, &error);
    if (!error.empty()) return CheckResult::Skip(error);
  }
  Steps gui_alone;
  if (!edits.empty()) {
    HostHarness harness(make_module, context.Trace());
    gui_alone = RunGui(harness, pins, start, edits, &error);
    if (!error.empty()) return CheckResult::Skip(error);
  }

  // At once: a thread for each DSP instance, each with a harness of its own
  // (the trace is one thread's), while this thread edits the GUI instances.
  std::vector<InstanceRun> together(DSP_THREADS);
  std::vector<std::string> errors(DSP_THREADS);
  Lockstep lockstep(DSP_THREADS);
  std::vector<std::thread> threads;
  threads.reserve(DSP_THREADS);
  for (int i = 0; i < DSP_THREADS; ++i) {
    threads.emplace_back([&, i] {
      const auto index = static_cast<size_t>(i);
      try {
        HostHarness harness(make_module, nullptr);
        together[index] = RunDsp(harness, pin_count, blocks, &lockstep, &errors[index]);
      } catch (const std::exception& e) {
        errors[index] = std::string("exception: ") + e.what();
      }
      lockstep.Leave();
    });
  }
  Steps gui_together;
  std::string gui_error;
  if (!edits.empty()) {
    try {
      HostHarness harness(make_module, nullptr);
      gui_together = RunGui(harness, pins, start, edits, &gui_error);
    } catch (const std::exception& e) {
      gui_error = std::string("exception: ") + e.what();
    }
  }
  for (std::thread& thread : threads) thread.join();

  std::string failures;
  const auto fail = [&failures](const std::string& text) {
    failures += (failures.empty() ? "" : "\n") + text;
  };
  for (size_t i = 0; i < together.size(); ++i) {
    const std::string who = "DSP instance " + std::to_string(i + 1) + " of " + std::to_string(DSP_THREADS) +
                            " on threads of their own";
    if (!errors[i].empty()) {
      fail(who + ": " + errors[i]);
      continue;
    }
    const std::string difference = InstanceRun::Difference(alone, together[i], i, "on threads of their own");
    if (!difference.empty()) fail("DSP " + difference);
  }
  if (!gui_error.empty()) fail("GUI instances beside the DSP threads: " + gui_error);
  const long edit = FirstDifference(gui_alone, gui_together);
  if (gui_error.empty() && edit >= 0) {
    const auto k = static_cast<size_t>(edit);
    fail("GUI instances beside the DSP threads, edit " + std::to_string(edit + 1) + " (" +
         GuiChecks::Describe(pins, edits[k]) + ")" + ": expected " +
         (k < gui_alone.size() ? GuiChecks::Describe(pins, gui_alone[k]) : "no more edits") +
         " as alone, got " + (k < gui_together.size() ? GuiChecks::Describe(pins, gui_together[k]) : "none"));
  }
  if (!failures.empty()) return CheckResult::Fail(failures);
  return CheckResult::Pass(std::to_string(DSP_THREADS) + " DSP threads, " + std::to_string(blocks) +
                           " blocks each");
}
