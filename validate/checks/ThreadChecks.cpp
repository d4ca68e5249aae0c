#include "ThreadChecks.h"

#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>

#include "GuiChecks.h"
#include "HostHarness.h"

namespace {

using Pins = std::vector<CheckContext::Pin>;
// What an instance gave, step by step (a block, an edit), as words: host
// calls and audio samples for a DSP instance, every pin for a GUI one.
using Steps = std::vector<std::vector<uint32_t>>;

constexpr int32_t BLOCK = 64;

uint32_t Bits(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

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

struct Audio {
  std::vector<int32_t> inputs, outputs;  // DSP pin ids
  int32_t count = 0;                     // DSP pins
};

Audio FindAudio(const Pins& pins) {
  Audio audio;
  audio.count = PinDescription::DspCount(pins);
  const std::vector<int32_t> ids = PinDescription::DspIds(pins);
  for (size_t i = 0; i < pins.size(); ++i) {
    if (ids[i] < 0 || pins[i].datatype != DT_FSAMPLE) continue;
    (pins[i].direction == DR_OUT ? audio.outputs : audio.inputs).push_back(ids[i]);
  }
  return audio;
}

// One DSP instance through `blocks` blocks, its input a signal of its own;
// with `lockstep`, each block waits for the other threads' blocks.
Steps RunDsp(HostHarness& harness, const Audio& audio, int instance, int blocks, Lockstep* lockstep,
             std::string* error) {
  Steps steps;
  const int id = harness.OpenDsp(audio.count);
  if (id < 0) {
    *error = "makeModule(0, 1) gives no usable DSP instance";
    return steps;
  }
  DspHost& host = harness.Dsp(id);
  host.SetLogging(true);
  host.ClearLog();
  for (int block = 0; block < blocks; ++block) {
    if (lockstep != nullptr) lockstep->Arrive();
    for (const int32_t pin : audio.inputs) {
      const AudioBuffer buffer = host.Buffer(pin);
      for (size_t i = 0; i < buffer.size(); ++i) {
        const double t = static_cast<double>(block * BLOCK) + static_cast<double>(i);
        buffer[i] = static_cast<float>(std::sin(0.01 * (instance + 1) * t) * 0.5 + 0.1 * (pin + 1));
      }
    }
    host.Run(BLOCK);
    std::vector<uint32_t> step;
    for (const HostCall& call : host.Log()) {
      step.insert(step.end(), {static_cast<uint32_t>(call.opcode), static_cast<uint32_t>(call.index),
                               static_cast<uint32_t>(call.value), Bits(call.opt)});
    }
    host.ClearLog();
    for (const int32_t pin : audio.outputs) {
      for (const float sample : host.Buffer(pin)) step.push_back(Bits(sample));
    }
    steps.push_back(step);
  }
  harness.Close(id);
  return steps;
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

// Where two runs of a block differ: "word W of N: 0x... alone, 0x... at once".
std::string Difference(const std::vector<uint32_t>& alone, const std::vector<uint32_t>& together) {
  size_t word = 0;
  while (word < alone.size() && word < together.size() && alone[word] == together[word]) ++word;
  const auto hex = [](const std::vector<uint32_t>& words, size_t at) {
    if (at >= words.size()) return std::string("nothing");
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(words[at]));
    return std::string(text);
  };
  return "word " + std::to_string(word + 1) + " of " + std::to_string(alone.size()) +
         " (its host calls, then its " + "audio): " + hex(alone, word) + " alone, " + hex(together, word) +
         " at once";
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
  const Audio audio = FindAudio(pins);
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
  std::vector<Steps> alone(DSP_THREADS);
  for (int i = 0; i < DSP_THREADS; ++i) {
    HostHarness harness(make_module, context.Trace());
    alone[static_cast<size_t>(i)] = RunDsp(harness, audio, i, blocks, nullptr, &error);
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
  std::vector<Steps> together(DSP_THREADS);
  std::vector<std::string> errors(DSP_THREADS);
  Lockstep lockstep(DSP_THREADS);
  std::vector<std::thread> threads;
  threads.reserve(DSP_THREADS);
  for (int i = 0; i < DSP_THREADS; ++i) {
    threads.emplace_back([&, i] {
      const auto index = static_cast<size_t>(i);
      try {
        HostHarness harness(make_module, nullptr);
        together[index] = RunDsp(harness, audio, i, blocks, &lockstep, &errors[index]);
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
    const long block = FirstDifference(alone[i], together[i]);
    if (block >= 0) {
      const auto b = static_cast<size_t>(block);
      fail(who + ", block " + std::to_string(block + 1) +
           ": expected the host calls and audio it gives alone, got " +
           (b < together[i].size() && b < alone[i].size() ? Difference(alone[i][b], together[i][b])
                                                          : "fewer blocks"));
    }
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
