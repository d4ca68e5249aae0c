#include "FuzzEpisode.h"

#include <cstring>
#include <random>
#include <vector>

#include "DspChecks.h"
#include "GuiChecks.h"
#include "HostHarness.h"
#include "OpcodeNames.h"
#include "TextFormat.h"

namespace {

// Most instances of each side alive at once.
constexpr size_t MAX_LIVE = 3;
// Most samples one run takes: what the host's buffers hold.
constexpr int32_t MAX_RUN = 64;

const float SAMPLE_RATES[] = {22050.0f, 44100.0f, 48000.0f, 96000.0f, 192000.0f};
// Sizes announced are at least what the host then processes in one call.
const int32_t BLOCK_SIZES[] = {64, 512, 4096};
const GuiHost::Echo ECHOES[] = {GuiHost::Echo::NONE, GuiHost::Echo::IMMEDIATE, GuiHost::Echo::DEFERRED,
                                GuiHost::Echo::EVERY};
const char* const ECHO_NAMES[] = {"none", "immediate", "deferred", "every write"};

struct Live {
  int id;
  bool gui;
  bool opened;  // a DSP instance that has built its pins
};

template <class T, size_t N>
const T& Pick(std::mt19937_64& random, const T (&items)[N]) {
  return items[std::uniform_int_distribution<size_t>(0, N - 1)(random)];
}

}  // namespace

FuzzEpisode::FuzzEpisode(CheckContext& context, uint64_t seed, int steps,
                         std::function<void(const std::string&)> say)
    : m_context(context), m_seed(seed), m_steps(steps), m_say(std::move(say)) {}

CheckResult FuzzEpisode::Run() {
  CheckResult result;
  std::vector<CheckContext::Pin> pins;
  if (!m_context.Prepare(&pins, &result)) return result;
  std::mt19937_64 random(m_seed);
  const auto below = [&random](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); };
  const auto any = [&random]() {
    return std::uniform_int_distribution<int32_t>(INT32_MIN, INT32_MAX)(random);
  };
  HostHarness harness(m_context.MakeModuleExport(), m_context.Trace());
  const int32_t dsp_pins = PinDescription::DspCount(pins);
  const std::vector<int32_t> unknown_dsp = DspChecks::UnknownOpcodes(16);
  std::vector<Live> live;
  unsigned char scratch[256];

  // A live instance of one side, or null.
  const auto one = [&](bool gui, bool opened_only) -> Live* {
    std::vector<Live*> found;
    for (Live& instance : live) {
      if (instance.gui == gui && (!opened_only || instance.opened)) found.push_back(&instance);
    }
    return found.empty() ? nullptr : found[below(found.size())];
  };
  const auto count = [&](bool gui) {
    size_t n = 0;
    for (const Live& instance : live) n += instance.gui == gui ? 1 : 0;
    return n;
  };

  for (int step = 1; step <= m_steps; ++step) {
    // Each step is said before it is taken: if it ends the process, it was
    // the last one said.
    std::string what;
    std::function<void()> act;
    switch (below(12)) {
      case 0:
        if (count(false) < MAX_LIVE) {
          what = "make a DSP instance";
          act = [&] {
            const int id = harness.MakeDsp(dsp_pins);
            if (id >= 0 && harness.IsLive(id)) live.push_back({id, false, false});
          };
        }
        break;
      case 1:
        if (count(true) < MAX_LIVE) {
          const size_t echo = below(4);
          std::vector<float> start;
          for (size_t i = 0; i < pins.size(); ++i) start.push_back(GuiChecks::RandomValue(random));
          what = std::string("make a GUI instance, echo ") + ECHO_NAMES[echo];
          act = [&, echo, start] {
            const int id = GuiChecks::NewInstance(harness, pins, ECHOES[echo], start);
            if (id >= 0) live.push_back({id, true, false});
          };
        }
        break;
      case 2:
        if (!live.empty()) {
          const size_t at = below(live.size());
          what = std::string("close ") + (live[at].gui ? "GUI" : "DSP") + " instance " +
                 std::to_string(live[at].id);
          act = [&, at] {
            harness.Close(live[at].id);
            live.erase(live.begin() + static_cast<long>(at));
          };
        }
        break;
      case 3:
        if (Live* dsp = one(false, false)) {
          what = "DSP_OP_OPEN";
          act = [&, dsp] {
            harness.Dsp(dsp->id).Dispatch(DSP_OP_OPEN);
            dsp->opened = true;
          };
        }
        break;
      case 4:
        if (Live* dsp = one(false, false)) {
          const float rate = Pick(random, SAMPLE_RATES);
          what = "DSP_OP_CHANGE_SAMPLE_RATE " + TextFormat::Float(rate);
          act = [&, dsp, rate] {
            harness.Dsp(dsp->id).Dispatch(DSP_OP_CHANGE_SAMPLE_RATE, 0, 0, nullptr, rate);
          };
        }
        break;
      case 5:
        if (Live* dsp = one(false, false)) {
          const int32_t size = Pick(random, BLOCK_SIZES);
          what = "DSP_OP_CHANGE_BLOCK_SIZE " + std::to_string(size);
          act = [&, dsp, size] { harness.Dsp(dsp->id).Dispatch(DSP_OP_CHANGE_BLOCK_SIZE, 0, size); };
        }
        break;
      case 6:
      case 7:
        if (Live* dsp = one(false, true)) {
          const auto samples = static_cast<int32_t>(1 + below(MAX_RUN));
          what = "process " + std::to_string(samples) + " samples";
          act = [&, dsp, samples] { harness.Dsp(dsp->id).Run(samples); };
        }
        break;
      case 8:
        if (Live* dsp = one(false, true)) {
          DspHost& host = harness.Dsp(dsp->id);
          const uint32_t clock = host.Clock() + static_cast<uint32_t>(below(MAX_RUN));
          QXEvent event{clock, ET_DATA, any(), any(), 0, 0};
          if (dsp_pins > 0 && below(2) == 0) {
            event = QXEvent{clock,
                            ET_PIN_STATUS,
                            static_cast<int32_t>(below(4)),
                            0,
                            static_cast<int32_t>(below(static_cast<size_t>(dsp_pins))),
                            0};
            what = "post a status " + std::to_string(event.arg1) + " of pin " + std::to_string(event.arg3) +
                   " at clock " + std::to_string(clock);
          } else {
            what = "post data at clock " + std::to_string(clock);
          }
          act = [&host, event] { host.Post(event); };
        }
        break;
      case 9:
        if (Live* gui = one(true, false)) {
          if (pins.empty()) break;
          const GuiChecks::Edit edit{static_cast<int32_t>(below(pins.size())),
                                     GuiChecks::RandomValue(random)};
          what = "edit " + GuiChecks::Describe(pins, edit);
          act = [&, gui, edit] { GuiChecks::Apply(harness, gui->id, pins, edit); };
        }
        break;
      case 10:
        if (Live* dsp = one(false, false)) {
          const int32_t opcode = unknown_dsp[below(unknown_dsp.size())];
          const int32_t index = any(), value = any();
          const float opt = GuiChecks::RandomValue(random);
          what = "unknown DSP opcode " + std::to_string(opcode);
          act = [&, dsp, opcode, index, value, opt] {
            std::memset(scratch, 0, sizeof scratch);
            harness.Dsp(dsp->id).Dispatch(opcode, index, value, scratch, opt);
          };
        }
        break;
      case 11:
        if (Live* gui = one(true, false)) {
          const int32_t opcode = below(2) == 0 ? -1 - static_cast<int32_t>(below(16))
                                               : GUI_OP_INDEX_2 + 1 + static_cast<int32_t>(below(16));
          const int32_t index = any(), value = any();
          const float opt = GuiChecks::RandomValue(random);
          what = "unknown GUI opcode " + std::to_string(opcode);
          act = [&, gui, opcode, index, value, opt] {
            std::memset(scratch, 0, sizeof scratch);
            harness.Gui(gui->id).Dispatch(opcode, index, value, scratch, opt);
          };
        }
        break;
    }
    if (!act) continue;  // no instance to act on
    if (m_say) m_say("step " + std::to_string(step) + ": " + what);
    act();
    for (const auto trouble :
         {HostHarness::Trouble::CALLBACK, HostHarness::Trouble::RECORD, HostHarness::Trouble::DEPTH}) {
      if (harness.HasProblems(trouble))
        return CheckResult::Fail("step " + std::to_string(step) + " (" + what +
                                 "): " + harness.ProblemText(trouble));
    }
  }
  return CheckResult::Pass(std::to_string(m_steps) + " steps");
}
