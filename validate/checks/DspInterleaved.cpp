#include "DspInterleaved.h"

#include <algorithm>
#include <string>
#include <vector>

#include "GuiChecks.h"
#include "HostHarness.h"
#include "InstanceRun.h"
#include "ProcessFormats.h"

namespace {

using Pins = std::vector<CheckContext::Pin>;

// One instance as a host pairs them: a DSP side, described and opened, and
// the GUI side that edits the pins they share.
struct InstancePair {
  int dsp = -1;
  int gui = -1;
  InstanceRun::Layout layout;
  InstanceRun run;
};

bool MakeInstancePair(HostHarness& harness, const Pins& pins, InstancePair* pair) {
  pair->dsp =
      InstanceRun::OpenDsp(harness, PinDescription::DspCount(pins), DspInterleaved::BLOCK, &pair->layout);
  if (pair->dsp < 0) return false;
  pair->gui = GuiChecks::NewInstance(harness, pins, GuiHost::Echo::NONE, {});
  return pair->gui >= 0;
}

// Round `round` of `instance`'s edits: each control pin a value of its own. A
// pin the GUI side shares is edited there, and the DSP side gets what the
// GUI side then holds, as a host passes it on.
void EditInstance(HostHarness& harness, const Pins& pins, InstancePair& pair, int instance, int round) {
  const std::vector<int32_t> ids = PinDescription::DspIds(pins);
  DspHost& host = harness.Dsp(pair.dsp);
  for (size_t c = 0; c < pair.layout.controls.size(); ++c) {
    const int32_t id = pair.layout.controls[c];
    // Instances' values are three steps apart in ProcessFormats' six.
    double value = ProcessFormats::ControlValue(
        static_cast<int>(c), static_cast<size_t>(round) + 3 * static_cast<size_t>(instance));
    const auto place = std::find(ids.begin(), ids.end(), id);
    const auto index = static_cast<int32_t>(place - ids.begin());
    if (place != ids.end() && (pins[static_cast<size_t>(index)].flags & IO_UI_COMMUNICATION) != 0) {
      GuiChecks::Apply(harness, pair.gui, pins, {index, static_cast<float>(value)});
      GuiHost& gui = harness.Gui(pair.gui);
      value = pins[static_cast<size_t>(index)].datatype == DT_FLOAT ? static_cast<double>(gui.Float(index))
                                                                    : static_cast<double>(gui.Int(index));
    }
    host.SetPinValue(id, value, host.Clock());
  }
}

void RunBlock(HostHarness& harness, InstancePair& pair, int block) {
  pair.run.RunBlock(harness.Dsp(pair.dsp), pair.layout, block, DspInterleaved::BLOCK);
}

void ClosePair(HostHarness& harness, const InstancePair& pair) {
  harness.Close(pair.gui);
  harness.Close(pair.dsp);
}

}  // namespace

ValidationCheck DspInterleaved::Check() {
  return {"dsp.interleaved",
          "two instances, each a DSP and a GUI side, edited differently and run block by block in turn: each "
          "gives the host calls and audio it gives alone",
          false,
          true,
          &Run,
          1};
}

CheckResult DspInterleaved::Run(CheckContext& context) {
  CheckResult result;
  Pins pins;
  if (!context.Prepare(&pins, &result)) return result;
  const int blocks = 8 + context.Size() / 4;
  const std::string unusable = "makeModule gives no usable DSP and GUI instances";

  // Alone: each instance made, edited and run while it is the only one.
  std::vector<InstanceRun> alone;
  for (int i = 0; i < INSTANCES; ++i) {
    const TraceWriter::Part part(context.Trace(), "instance " + std::to_string(i + 1) + " alone");
    HostHarness harness(context.MakeModuleExport(), context.Trace());
    InstancePair pair;
    if (!MakeInstancePair(harness, pins, &pair)) return CheckResult::Skip(unusable);
    for (int b = 0; b < blocks; ++b) {
      if (b % EDIT_EVERY == 0) EditInstance(harness, pins, pair, i, b / EDIT_EVERY);
      RunBlock(harness, pair, b);
    }
    ClosePair(harness, pair);
    alone.push_back(pair.run);
  }

  // Interleaved: every edit of a round first, then each instance's block.
  const TraceWriter::Part part(context.Trace(), "the instances interleaved");
  HostHarness harness(context.MakeModuleExport(), context.Trace());
  std::vector<InstancePair> pairs(INSTANCES);
  for (InstancePair& pair : pairs) {
    if (!MakeInstancePair(harness, pins, &pair)) return CheckResult::Skip(unusable);
  }
  for (int b = 0; b < blocks; ++b) {
    for (int i = 0; i < INSTANCES && b % EDIT_EVERY == 0; ++i)
      EditInstance(harness, pins, pairs[static_cast<size_t>(i)], i, b / EDIT_EVERY);
    for (InstancePair& pair : pairs) RunBlock(harness, pair, b);
  }
  for (const InstancePair& pair : pairs) ClosePair(harness, pair);

  std::string failures;
  for (size_t i = 0; i < pairs.size(); ++i) {
    const std::string difference = InstanceRun::Difference(alone, pairs[i].run, i, "interleaved");
    if (!difference.empty()) failures += (failures.empty() ? "" : "\n") + difference;
  }
  if (!failures.empty()) return CheckResult::Fail(failures);
  const size_t controls = pairs[0].layout.controls.size();
  return CheckResult::Pass(std::to_string(INSTANCES) + " instances, " + std::to_string(blocks) +
                           " blocks each, " + std::to_string(controls) +
                           (controls == 1 ? " control pin" : " control pins") + " edited");
}
